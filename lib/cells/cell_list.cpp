// Cell lists: compression of sorted numbers, cursors that expand ranges on
// the fly, and a binary search that treats "c, -m" as one entry.
//
// The binary search works on word positions: it finds the last plain number
// not above the cell, then looks at the word after it for a range end.
#include "lib/cells/cell_list.h"

#include <algorithm>

namespace cells {

std::int32_t CompressCellList(std::int32_t* words) {
  const std::int32_t n = words[0];
  std::int32_t out = 1;
  std::int32_t i = 1;
  while (i < n) {
    std::int32_t c = words[i];
    std::int32_t m = c;
    std::int32_t j = i + 1;
    while (j < n && (words[j] == m || words[j] == m + 1)) {
      m = words[j];
      ++j;
    }
    words[out++] = c;
    if (m == c + 1) {
      words[out++] = m;
    } else if (m > c + 1) {
      words[out++] = -m;
    }
    i = j;
  }
  words[0] = out;
  return out;
}

std::vector<std::int32_t> MakeCellList(std::vector<std::int32_t> cells) {
  cells.erase(std::remove_if(cells.begin(), cells.end(), [](std::int32_t c) { return c < 0; }),
              cells.end());
  std::sort(cells.begin(), cells.end());
  std::vector<std::int32_t> words(cells.size() + 1);
  words[0] = static_cast<std::int32_t>(words.size());
  std::copy(cells.begin(), cells.end(), words.begin() + 1);
  words.resize(static_cast<std::size_t>(CompressCellList(words.data())));
  return words;
}

CellListCursor CellListBegin(const std::int32_t* list) {
  CellListCursor c;
  c.list = list;
  return c;
}

bool CellListNext(CellListCursor& c, std::int32_t* cell) {
  if (c.range_end >= 0 && c.next <= c.range_end) {
    *cell = c.next++;
    return true;
  }
  c.range_end = -1;
  if (c.pos >= c.list[0]) return false;
  std::int32_t w = c.list[c.pos++];
  if (c.pos < c.list[0] && c.list[c.pos] < 0) {
    c.range_end = -c.list[c.pos++];
    c.next = w + 1;
  }
  *cell = w;
  return true;
}

std::vector<std::int32_t> ExpandCellList(const std::int32_t* list) {
  std::vector<std::int32_t> out;
  CellListCursor c = CellListBegin(list);
  std::int32_t cell;
  while (CellListNext(c, &cell)) out.push_back(cell);
  return out;
}

std::int64_t CellListCells(const std::int32_t* list) {
  std::int64_t n = 0;
  for (std::int32_t i = 1; i < list[0]; ++i) {
    if (list[i] < 0)
      n += static_cast<std::int64_t>(-list[i]) - list[i - 1];
    else
      ++n;
  }
  return n;
}

bool CellListContains(const std::int32_t* list, std::int32_t cell) {
  std::int32_t lo = 1, hi = list[0] - 1;
  std::int32_t found = -1;  // position of the last plain number <= cell
  while (lo <= hi) {
    std::int32_t mid = lo + (hi - lo) / 2;
    std::int32_t pos = mid;
    if (list[pos] < 0) --pos;  // a range word: look at its start
    if (list[pos] <= cell) {
      found = pos;
      lo = mid + 1;
    } else {
      hi = pos - 1;
    }
  }
  if (found < 0) return false;
  if (list[found] == cell) return true;
  return found + 1 < list[0] && list[found + 1] < 0 && cell <= -list[found + 1];
}

bool CellListRange(const std::int32_t* list, std::int32_t* first, std::int32_t* last) {
  if (list[0] < 2) return false;
  *first = list[1];
  std::int32_t w = list[list[0] - 1];
  *last = w < 0 ? -w : w;
  return true;
}

bool CellListValid(const std::int32_t* list, std::int64_t available, std::int64_t cell_limit) {
  if (available < 1) return false;
  const std::int32_t n = list[0];
  if (n < 1 || n > available) return false;
  std::int64_t prev = -1;
  bool prev_plain = false;
  for (std::int32_t i = 1; i < n; ++i) {
    std::int64_t w = list[i];
    if (w < 0) {
      if (!prev_plain || -w <= prev) return false;
      prev = -w;
      prev_plain = false;
    } else {
      if (w <= prev) return false;
      prev = w;
      prev_plain = true;
    }
    if (cell_limit > 0 && prev >= cell_limit) return false;
  }
  return true;
}

CellListWalk CellListWalkBegin(const std::int32_t* a, const std::int32_t* b) {
  CellListWalk w;
  w.a = CellListBegin(a);
  w.b = CellListBegin(b);
  w.has_a = CellListNext(w.a, &w.ca);
  w.has_b = CellListNext(w.b, &w.cb);
  return w;
}

bool CellListWalkNext(CellListWalk& w, std::int32_t* cell, bool* in_a, bool* in_b) {
  if (!w.has_a && !w.has_b) return false;
  if (w.has_a && (!w.has_b || w.ca <= w.cb)) {
    *cell = w.ca;
    *in_a = true;
    *in_b = w.has_b && w.cb == w.ca;
    if (*in_b) w.has_b = CellListNext(w.b, &w.cb);
    w.has_a = CellListNext(w.a, &w.ca);
  } else {
    *cell = w.cb;
    *in_a = false;
    *in_b = true;
    w.has_b = CellListNext(w.b, &w.cb);
  }
  return true;
}

}  // namespace cells
