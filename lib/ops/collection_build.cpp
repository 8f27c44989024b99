// Collection building: the cell table of points or legs, the region section
// with its per-cell candidates and quick circles, and the names.
#include "lib/ops/collection_build.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "lib/cells/cell_list.h"
#include "lib/cells/cell_locate.h"
#include "lib/cells/object_builder.h"
#include "lib/cells/object_file.h"
#include "lib/geodesy/constants.h"
#include "lib/ops/cell_chains.h"
#include "lib/ops/collection.h"
#include "lib/ops/rset_point_test.h"

namespace ops {

using cells::Load;
using cells::Store;
using geodesy::DirectionCosines;

namespace {

struct PointRec {
  std::int32_t cell;
  DirectionCosines p;
  std::uint32_t datum, item;
};
struct LegRec {
  std::int32_t cell;
  std::uint32_t item;
  std::int64_t leg;  // order of the leg over the whole collection
  DirectionCosines a, b;
  std::uint32_t datum;
};

// The vertices of each item of an Lset or Rset, in order.
void ItemVertices(cells::CellIndex& idx, const cells::Object& o, std::int64_t i,
                  std::vector<DirectionCosines>& out, std::uint32_t* id) {
  out.clear();
  const cells::Item it = cells::LoadItem(cells::ItemAt(o, i));
  *id = it.id;
  const int rs = cells::RecordSize(o.res);
  for (std::int32_t k = 0; k < it.count; ++k) {
    const cells::Piece pc = cells::LoadPiece(cells::PieceAt(o, it, k));
    for (std::int32_t j = 0; j < pc.count; ++j) {
      DirectionCosines p;
      cells::Restore(idx, pc.cell, o.coords + pc.offset + std::int64_t{j} * rs, o.res, p);
      out.push_back(p);
    }
  }
}

struct LegContext {
  std::vector<LegRec>* legs;
  const std::vector<DirectionCosines>* v;
  bool closed;
  std::uint32_t item, datum;
  std::int64_t base;
};
void OnLegCell(void* context, std::int64_t leg, std::int32_t cell) {
  auto* c = static_cast<LegContext*>(context);
  const std::size_t n = c->v->size();
  const std::size_t i = static_cast<std::size_t>(leg);
  if (i >= n) return;
  const std::size_t j = i + 1 < n ? i + 1 : (c->closed ? 0 : i);
  c->legs->push_back({cell, c->item, c->base + leg, (*c->v)[i], (*c->v)[j], c->datum});
}

void AddLegs(cells::CellIndex& idx, const std::vector<DirectionCosines>& v, bool closed,
             std::uint32_t item, std::uint32_t datum, std::int64_t& leg_base, std::vector<LegRec>& legs) {
  if (v.empty()) return;
  std::vector<cells::ItemPiece> pieces;
  std::vector<std::int32_t> vcells;
  if (v.size() == 1) {
    const std::int32_t c = cells::Locate(idx, v[0]);
    legs.push_back({c, item, leg_base++, v[0], v[0], datum});
    return;
  }
  LegContext ctx{&legs, &v, closed, item, datum, leg_base};
  cells::CutIntoPieces(idx, v, closed, pieces, vcells, OnLegCell, &ctx);
  // A vertex's own cell always records the legs that meet there.
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i + 1 < v.size() || closed) {
      const std::size_t j = i + 1 < v.size() ? i + 1 : 0;
      legs.push_back({vcells[i], item, leg_base + static_cast<std::int64_t>(i), v[i], v[j], datum});
      legs.push_back({vcells[j], item, leg_base + static_cast<std::int64_t>(i), v[i], v[j], datum});
    }
  }
  leg_base += static_cast<std::int64_t>(v.size());
}

void StoreVec(std::uint8_t* p, const DirectionCosines& v) {
  Store<double>(p, v.x);
  Store<double>(p + 8, v.y);
  Store<double>(p + 16, v.z);
}

void Align(std::vector<std::uint8_t>& b, std::size_t a) {
  while (b.size() % a) b.push_back(0);
}

// The squared radius and centre of a circle in the cell's frame enclosing
// the region's part of the cell, or 1.0 when none can be given.
float QuickCircle(cells::CellIndex& idx, const cells::Object& region, std::int32_t cell, float* cu, float* cv) {
  *cu = *cv = 0.0f;
  CellChains ch;
  if (GatherCellChains(idx, region, cell, ch) <= 0 || ch.polygon.empty()) return 1.0f;
  std::vector<PlanePoint> pts = ch.points;
  for (const PlanePoint& corner : ch.polygon)
    if (q7_RsetPointTestInCell(idx, cell, corner, region, 0.0, 0) > 0) pts.push_back(corner);
  double u0 = HUGE_VAL, u1 = -HUGE_VAL, v0 = HUGE_VAL, v1 = -HUGE_VAL;
  for (const PlanePoint& q : pts) {
    u0 = std::min(u0, q.u);
    u1 = std::max(u1, q.u);
    v0 = std::min(v0, q.v);
    v1 = std::max(v1, q.v);
  }
  if (!(u1 >= u0) || !(v1 >= v0)) return 1.0f;
  *cu = static_cast<float>((u0 + u1) / 2);
  *cv = static_cast<float>((v0 + v1) / 2);
  double r2 = 0.0;
  for (const PlanePoint& q : pts) {
    const double du = q.u - *cu, dv = q.v - *cv;
    r2 = std::max(r2, du * du + dv * dv);
  }
  r2 = r2 * (1.0 + 1e-6) + 1e-16;
  if (!(r2 < 0.5)) return 1.0f;
  float f = static_cast<float>(r2);
  if (static_cast<double>(f) < r2) f = std::nextafter(f, 2.0f);
  return f;
}

}  // namespace

int ReadCollNames(const std::string& text, std::map<std::uint32_t, std::string>& names) {
  std::size_t pos = 0;
  int line = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string s = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    if (!s.empty() && s.back() == '\r') s.pop_back();
    if (s.empty() || s[0] == '#') continue;
    const std::size_t tab = s.find('\t');
    if (tab == std::string::npos || tab == 0 || tab > 10) return line;
    std::uint64_t id = 0;
    for (std::size_t i = 0; i < tab; ++i) {
      if (s[i] < '0' || s[i] > '9') return line;
      id = id * 10 + static_cast<unsigned>(s[i] - '0');
    }
    if (id > 0xFFFFFFFFull) return line;
    std::string name = s.substr(tab + 1);
    if (name.size() > 255) {
      std::size_t cut = 255;
      while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
      name.resize(cut);
    }
    names[static_cast<std::uint32_t>(id)] = name;
  }
  return 0;
}

CollBuildResult BuildCollection(cells::CellIndex& idx, const cells::Object& obj,
                                const std::map<std::uint32_t, std::string>* names, std::uint32_t db_id) {
  CollBuildResult r;
  const int kind = obj.kind;
  if (kind != cells::kPset && kind != cells::kLset && kind != cells::kRset) {
    r.status = 1;
    return r;
  }
  // Names: one per item datum, in the order they are first asked for.
  std::map<std::uint32_t, std::uint32_t> refs;
  if (names) {
    r.dat.assign(8, 0);
    Store<std::uint32_t>(r.dat.data(), db_id);
  }
  auto datum_of = [&](std::uint32_t id) -> std::uint32_t {
    if (!names) return id;
    auto f = refs.find(id);
    if (f != refs.end()) return f->second;
    auto n = names->find(id);
    std::string s = n != names->end() ? n->second : std::to_string(id);
    Align(r.dat, 4);
    const std::uint32_t off = static_cast<std::uint32_t>(r.dat.size());
    r.dat.push_back(static_cast<std::uint8_t>(s.size()));
    r.dat.insert(r.dat.end(), s.begin(), s.end());
    const std::uint32_t d = CollNameDatum(off, true);
    refs[id] = d;
    return d;
  };

  std::vector<PointRec> points;
  std::vector<LegRec> legs;
  struct RegionBuild {
    std::uint32_t id;
    std::uint32_t name_ref;
    std::vector<cells::PointNode> nodes;
    std::uint32_t rings = 0, vertices = 0;
  };
  std::vector<RegionBuild> regions;
  std::int64_t leg_base = 0;
  if (kind == cells::kPset) {
    const int rs = cells::RecordSize(obj.res);
    std::uint32_t order = 0;
    for (std::int64_t i = 0; i < cells::PsetCellCount(obj); ++i) {
      const cells::PsetCell pc = cells::LoadPsetCell(cells::PsetCellAt(obj, i));
      for (std::int32_t j = 0; j < pc.count; ++j) {
        DirectionCosines p;
        std::uint64_t attr = 0;
        cells::Restore(idx, pc.cell, obj.coords + pc.offset + std::int64_t{j} * rs, obj.res, p, &attr);
        ++order;
        const std::uint32_t datum = cells::ResHasAttribute(obj.res) ? static_cast<std::uint32_t>(attr) : order;
        points.push_back({cells::Locate(idx, p), p, datum_of(datum), order - 1});
      }
    }
    r.items = order;
  } else {
    std::vector<DirectionCosines> v;
    std::map<std::uint32_t, std::size_t> region_of;
    for (std::int64_t i = 0; i < cells::ItemCount(obj); ++i) {
      std::uint32_t id;
      ItemVertices(idx, obj, i, v, &id);
      if (v.empty()) continue;
      if (kind == cells::kLset) {
        AddLegs(idx, v, false, r.items, datum_of(id), leg_base, legs);
        ++r.items;
        continue;
      }
      auto f = region_of.find(id);
      if (f == region_of.end()) {
        f = region_of.emplace(id, regions.size()).first;
        regions.push_back({id, datum_of(id), {}, 0, 0});
      }
      RegionBuild& g = regions[f->second];
      AddLegs(idx, v, true, static_cast<std::uint32_t>(f->second), g.name_ref, leg_base, legs);
      for (const DirectionCosines& p : v) g.nodes.push_back({p, 0});
      g.nodes.push_back(cells::Mark(id));
      ++g.rings;
      g.vertices += static_cast<std::uint32_t>(v.size());
      ++r.rings;
    }
    if (kind == cells::kRset) r.items = static_cast<std::uint32_t>(regions.size());
  }

  // The cell table and the records.
  std::vector<std::uint8_t>& out = r.plr;
  out.assign(kCollHeaderSize, 0);
  std::vector<std::pair<std::int32_t, std::pair<std::uint32_t, std::uint32_t>>> table;
  std::vector<std::uint8_t> records;
  if (kind == cells::kPset) {
    std::stable_sort(points.begin(), points.end(), [](const PointRec& a, const PointRec& b) { return a.cell < b.cell; });
    for (std::size_t i = 0; i < points.size();) {
      std::size_t j = i;
      while (j < points.size() && points[j].cell == points[i].cell) ++j;
      table.push_back({points[i].cell, {static_cast<std::uint32_t>(records.size()), static_cast<std::uint32_t>(j - i)}});
      for (; i < j; ++i) {
        std::uint8_t rec[kCollPointRecordSize];
        StoreVec(rec, points[i].p);
        Store<std::uint32_t>(rec + 24, points[i].datum);
        Store<std::uint32_t>(rec + 28, points[i].item);
        records.insert(records.end(), rec, rec + sizeof rec);
      }
    }
  } else {
    std::sort(legs.begin(), legs.end(), [](const LegRec& a, const LegRec& b) {
      return a.cell != b.cell ? a.cell < b.cell : a.leg < b.leg;
    });
    legs.erase(std::unique(legs.begin(), legs.end(),
                           [](const LegRec& a, const LegRec& b) { return a.cell == b.cell && a.leg == b.leg; }),
               legs.end());
    for (std::size_t i = 0; i < legs.size();) {
      std::size_t j = i;
      while (j < legs.size() && legs[j].cell == legs[i].cell) ++j;
      table.push_back({legs[i].cell, {static_cast<std::uint32_t>(records.size()), static_cast<std::uint32_t>(j - i)}});
      for (; i < j; ++i) {
        std::uint8_t rec[kCollLegRecordSize];
        StoreVec(rec, legs[i].a);
        StoreVec(rec + 24, legs[i].b);
        Store<std::uint32_t>(rec + 48, legs[i].datum);
        Store<std::uint32_t>(rec + 52, legs[i].item);
        records.insert(records.end(), rec, rec + sizeof rec);
      }
    }
  }
  table.erase(std::remove_if(table.begin(), table.end(), [&](const auto& e) { return e.first < 0 || e.first >= idx.cell_count; }),
              table.end());
  r.cells = static_cast<std::uint32_t>(table.size());
  const std::uint64_t table_size = std::uint64_t{kCollCellEntrySize} * table.size();
  std::uint64_t region_header_at = kCollHeaderSize + table_size;
  std::uint64_t records_at = region_header_at + (kind == cells::kRset ? kCollRegionHeaderSize : 0);
  if (records_at + records.size() > 0xFFFFFFF0ull) {
    r.status = 2;
    return r;
  }
  for (const auto& e : table) {
    std::uint8_t b[kCollCellEntrySize];
    Store<std::int32_t>(b, e.first);
    Store<std::uint32_t>(b + 4, static_cast<std::uint32_t>(records_at + e.second.first));
    Store<std::uint32_t>(b + 8, e.second.second);
    out.insert(out.end(), b, b + sizeof b);
  }
  if (kind == cells::kRset) out.resize(out.size() + kCollRegionHeaderSize, 0);
  out.insert(out.end(), records.begin(), records.end());

  if (kind == cells::kRset) {
    // Region objects, candidates per cell.
    std::vector<std::uint8_t> area;
    std::vector<std::uint8_t> entries(regions.size() * kCollRegionEntrySize, 0);
    struct Cand {
      std::int32_t cell;
      std::uint32_t region;
      float r2, u, v;
    };
    std::vector<Cand> cands;
    for (std::size_t g = 0; g < regions.size(); ++g) {
      std::vector<std::uint8_t> heap;
      cells::SectionTarget t;
      t.heap = &heap;
      cells::BuildParams bp;
      bp.id = regions[g].id ? regions[g].id : 1;
      bp.res = 10;
      cells::Object ro;
      if (cells::BuildRset(idx, t, bp, regions[g].nodes, ro) > 0) {
        r.status = 3;
        return r;
      }
      ro.vix_id = idx.index_id;
      if (ro.release == 0) ro.release = geodesy::LIBRARY_RELEASE;
      // The object image: header area and the three sections end to end.
      std::vector<std::uint8_t> img(cells::kObjectHeaderArea + ro.env_size + ro.struct_size + ro.coord_size, 0);
      std::uint8_t* at = img.data() + cells::kObjectHeaderArea;
      cells::Object io = ro;
      if (ro.env_size) std::memcpy(at, ro.env, ro.env_size);
      io.env = at;
      at += ro.env_size;
      if (ro.struct_size) std::memcpy(at, ro.structure, ro.struct_size);
      io.structure = at;
      at += ro.struct_size;
      if (ro.coord_size) std::memcpy(at, ro.coords, ro.coord_size);
      io.coords = at;
      cells::WriteObjectHeader(img.data(), io);
      Align(area, 8);
      std::uint8_t* e = entries.data() + g * kCollRegionEntrySize;
      Store<std::uint32_t>(e, regions[g].name_ref);
      Store<std::uint32_t>(e + 4, static_cast<std::uint32_t>(area.size()));
      Store<std::uint32_t>(e + 8, static_cast<std::uint32_t>(img.size()));
      Store<std::uint32_t>(e + 12, regions[g].id);
      Store<std::uint32_t>(e + 16, regions[g].rings);
      Store<std::uint32_t>(e + 20, regions[g].vertices);
      area.insert(area.end(), img.begin(), img.end());
      for (std::int32_t c : cells::ExpandCellList(cells::EnvelopeList(io, 1)))
        cands.push_back({c, static_cast<std::uint32_t>(g), kCollInsideRadius, 0.0f, 0.0f});
      for (std::int32_t c : cells::ExpandCellList(cells::EnvelopeList(io, 0))) {
        Cand k{c, static_cast<std::uint32_t>(g), 1.0f, 0.0f, 0.0f};
        k.r2 = QuickCircle(idx, io, c, &k.u, &k.v);
        if (k.r2 < 1.0f) ++r.quick_circles;
        cands.push_back(k);
      }
    }
    std::stable_sort(cands.begin(), cands.end(), [](const Cand& a, const Cand& b) { return a.cell < b.cell; });
    Align(out, 8);
    const std::uint32_t cand_off = static_cast<std::uint32_t>(out.size());
    std::vector<std::uint8_t> rcells;
    for (std::size_t i = 0; i < cands.size(); ++i) {
      if (i == 0 || cands[i].cell != cands[i - 1].cell) {
        std::uint8_t b[kCollRegionCellSize] = {};
        Store<std::int32_t>(b, cands[i].cell);
        Store<std::uint32_t>(b + 8, static_cast<std::uint32_t>(i));
        rcells.insert(rcells.end(), b, b + sizeof b);
      }
      std::uint8_t* last = rcells.data() + rcells.size() - kCollRegionCellSize;
      Store<std::uint32_t>(last + 4, Load<std::uint32_t>(last + 4) + 1);
      std::uint8_t b[kCollCandidateSize] = {};
      Store<std::uint32_t>(b, cands[i].region);
      Store<float>(b + 4, cands[i].r2);
      Store<float>(b + 8, cands[i].u);
      Store<float>(b + 12, cands[i].v);
      out.insert(out.end(), b, b + sizeof b);
    }
    const std::uint32_t rcell_off = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), rcells.begin(), rcells.end());
    Align(out, 8);
    const std::uint32_t region_off = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), entries.begin(), entries.end());
    Align(out, 8);
    const std::uint64_t area_off = out.size();
    if (area_off + area.size() > 0xFFFFFFF0ull) {
      r.status = 2;
      return r;
    }
    out.insert(out.end(), area.begin(), area.end());
    std::uint8_t* s = out.data() + region_header_at;
    std::memcpy(s, "PLRRGN1", 8);
    Store<std::uint32_t>(s + 8, static_cast<std::uint32_t>(rcells.size() / kCollRegionCellSize));
    Store<std::uint32_t>(s + 12, rcell_off);
    Store<std::uint32_t>(s + 16, static_cast<std::uint32_t>(cands.size()));
    Store<std::uint32_t>(s + 20, cand_off);
    Store<std::uint32_t>(s + 24, static_cast<std::uint32_t>(regions.size()));
    Store<std::uint32_t>(s + 28, region_off);
    Store<std::uint32_t>(s + 32, static_cast<std::uint32_t>(area_off));
    Store<std::uint32_t>(s + 36, static_cast<std::uint32_t>(area.size()));
  }

  CollHeader h;
  h.release = geodesy::LIBRARY_RELEASE;
  h.dimension = static_cast<std::int16_t>(kind);
  h.db_id = db_id;
  h.index_id = idx.index_id;
  h.flags = names ? kCollAlignedNames : 0;
  h.entries = static_cast<std::int32_t>(table.size());
  h.low_cell = table.empty() ? 0 : table.front().first;
  h.high_cell = table.empty() ? 0 : static_cast<std::uint32_t>(table.back().first);
  h.items = r.items;
  h.table_size = static_cast<std::uint32_t>(table_size);
  EncodeCollHeader(h, out.data());
  if (names) Store<std::uint32_t>(r.dat.data() + 4, static_cast<std::uint32_t>(refs.size()));
  return r;
}

}  // namespace ops
