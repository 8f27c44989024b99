// The command table: 135 commands in their fixed order, ended by an empty
// entry. Look-up walks it in order (first case-insensitive match wins) and the
// console's Tab completion walks it the same way, so the order never changes.
//
// Each row: name, handler, first variant, second variant. Rows that share a
// handler differ only by the variant numbers passed to it.
//
// Adding your subsystem's commands:
//   1. Write the handlers in interp/cmd_<subsystem>.cpp (a new .cpp in interp/
//      joins the library by itself) with the signature of CommandHandler.
//   2. Declare them in interp/cmd_<subsystem>.h (or in handlers.h).
//   3. Replace CmdNotImplemented in your rows below with your handler: a one
//      line edit per row; leave names, order and variant numbers as they are.
//   4. Add the header to the include list below.
// The comment after each row names the subsystem that owns it and the shared
// handler it uses ("own" for a handler of its own).
#include "interp/handlers.h"
#include "interp/cmd_draw.h"
#include "interp/cmd_settings.h"
#include "interp/cmd_map.h"
#include "interp/cmd_objects.h"
#include "interp/cmd_cells.h"
#include "interp/cmd_clip.h"
#include "interp/cmd_derive.h"
#include "interp/cmd_measure.h"
#include "interp/cmd_orbit.h"
#include "interp/cmd_entry.h"
#include "interp/cmd_reframe.h"
#include "interp/cmd_lattice.h"
#include "interp/cmd_nearest.h"
#include "interp/cmd_surface.h"
#include "interp/cmd_verify.h"
#include "interp/cmd_paint.h"
#include "interp/cmd_collections.h"
#include "interp/cmd_regions.h"
#include "interp/cmd_tin.h"
#include "interp/cmd_plot.h"
#include "interp/cmd_buffers.h"

#include <strings.h>

namespace interp {

const CommandEntry kCommandTable[COMMAND_COUNT + 1] = {
    /*   0 */ {"AddCellCenters",                 CmdAddCellCenters,  0, 0},  // cell lattice: own
    /*   1 */ {"Area",                           CmdMeasure,         2, 0},  // measure: measure
    /*   2 */ {"Call",                           CmdCall,            0, 0},  // scripts: own
    /*   3 */ {"CenterOn",                       CmdCenterOn,        0, 0},  // map: own
    /*   4 */ {"Clear",                          CmdClear,           0, 0},  // display: own
    /*   5 */ {"DeriveLsetInside",               DeriveBinary,       5, 1},  // buffers: two-operand derivation
    /*   6 */ {"DeriveLsetNadir",                CmdDeriveOrbit,     2, 1},  // orbits: orbit derivation
    /*   7 */ {"DeriveLsetOutside",              DeriveBinary,       5, 2},  // buffers: two-operand derivation
    /*   8 */ {"DerivePsetAfarLines",            DeriveBinary,       2, 2},  // derive: two-operand derivation
    /*   9 */ {"DerivePsetCombinedAll",          DeriveBinary,       1, 3},  // derive: two-operand derivation
    /*  10 */ {"DerivePsetCombinedUnique",       DeriveBinary,       1, 2},  // derive: two-operand derivation
    /*  11 */ {"DerivePsetCommon",               DeriveBinary,       1, 1},  // derive: two-operand derivation
    /*  12 */ {"DerivePsetDuplicates",           DeriveUnary,        1, 3},  // derive: one-operand derivation
    /*  13 */ {"DerivePsetInside",               DeriveBinary,       3, 1},  // derive: two-operand derivation
    /*  14 */ {"DerivePsetIntersectLines",       DeriveBinary,       4, 0},  // derive: two-operand derivation
    /*  15 */ {"DerivePsetIntersectLineSelf",    DeriveUnary,        4, 0},  // derive: one-operand derivation
    /*  16 */ {"DerivePsetNearLines",            DeriveBinary,       2, 1},  // derive: two-operand derivation
    /*  17 */ {"DerivePsetOutside",              DeriveBinary,       3, 2},  // derive: two-operand derivation
    /*  18 */ {"DerivePsetReduced",              DeriveUnary,        1, 2},  // derive: one-operand derivation
    /*  19 */ {"DerivePsetTin",                  DeriveUnary,        12, 0},  // hull/TIN: one-operand derivation
    /*  20 */ {"DerivePsetUnique",               DeriveUnary,        1, 1},  // derive: one-operand derivation
    /*  21 */ {"DeriveRsetAfarLines",            DeriveUnary,        7, 2},  // buffers: one-operand derivation
    /*  22 */ {"DeriveRsetAfarPoints",           DeriveUnary,        8, 2},  // buffers: one-operand derivation
    /*  23 */ {"DeriveRsetCombined",             DeriveBinary,       6, 3},  // regions: two-operand derivation
    /*  24 */ {"DeriveRsetCommon",               DeriveBinary,       6, 1},  // regions: two-operand derivation
    /*  25 */ {"DeriveRsetComplement",           DeriveUnary,        11, 0},  // regions: one-operand derivation
    /*  26 */ {"DeriveRsetHullOfPoints",         DeriveUnary,        10, 0},  // hull/TIN: one-operand derivation
    /*  27 */ {"DeriveRsetNearLines",            DeriveUnary,        7, 1},  // buffers: one-operand derivation
    /*  28 */ {"DeriveRsetNearPoints",           DeriveUnary,        8, 1},  // buffers: one-operand derivation
    /*  29 */ {"DeriveRsetOrbit",                CmdDeriveOrbit,     1, 2},  // orbits: orbit derivation
    /*  30 */ {"DeriveRsetSwath",                CmdDeriveOrbit,     2, 2},  // orbits: orbit derivation
    /*  31 */ {"DeriveRsetWindow",               CmdDeriveRsetWindow, 0, 0},  // regions: own
    /*  32 */ {"DisplayArea",                    CmdDisplayArea,     0, 0},  // draw: own
    /*  33 */ {"DisplayCellsBoundary",           CmdDisplayCells,    3, 0},  // draw: display cells
    /*  34 */ {"DisplayCellsInterior",           CmdDisplayCells,    4, 0},  // draw: display cells
    /*  35 */ {"DisplayCellsOccupied",           CmdDisplayCells,    1, 0},  // draw: display cells
    /*  36 */ {"DisplayCellsTraversed",          CmdDisplayCells,    2, 0},  // draw: display cells
    /*  37 */ {"DisplayLines",                   CmdDisplayLines,    0, 0},  // draw: own
    /*  38 */ {"DisplayPoints",                  CmdDisplayPoints,   0, 0},  // draw: own
    /*  39 */ {"DisplaySurfaceHypso",            CmdNotImplemented,  0, 0},  // paint: display surface
    /*  40 */ {"DisplaySurfaceShade",            CmdNotImplemented,  1, 0},  // paint: display surface
    /*  41 */ {"DrawCellCenters",                CmdDrawCellPoints,  2, 0},  // draw: draw cell points
    /*  42 */ {"DrawCellDuals",                  CmdDrawCellOutlines, 2, 0},  // draw: draw cell outlines
    /*  43 */ {"DrawCellNumbers",                CmdDrawCellPoints,  1, 0},  // draw: draw cell points
    /*  44 */ {"DrawCellOrder",                  CmdDrawCellPoints,  3, 0},  // draw: draw cell points
    /*  45 */ {"DrawCells",                      CmdDrawCellOutlines, 1, 0},  // draw: draw cell outlines
    /*  46 */ {"DrawCellSpokes",                 CmdDrawCellOutlines, 3, 0},  // draw: draw cell outlines
    /*  47 */ {"DrawCoast",                      CmdDrawCoast,       0, 0},  // draw: own
    /*  48 */ {"DrawGrid",                       CmdDrawGrid,        0, 0},  // draw: own
    /*  49 */ {"DrawHorizon",                    CmdDrawHorizon,     0, 0},  // draw: own
    /*  50 */ {"DrawText",                       CmdDrawText,        0, 0},  // draw: own
    /*  51 */ {"DumpObject",                     CmdDumpObject,      0, 0},  // objects: own
    /*  52 */ {"Duration",                       CmdDuration,        0, 0},  // scripts: in the dispatcher
    /*  53 */ {"Echo",                           CmdEcho,            0, 0},  // scripts: in the dispatcher
    /*  54 */ {"EnterLset",                      CmdEnterObject,     1, 0},  // entry: enter object
    /*  55 */ {"EnterPset",                      CmdEnterObject,     0, 0},  // entry: enter object
    /*  56 */ {"EnterRset",                      CmdEnterObject,     2, 0},  // entry: enter object
    /*  57 */ {"EnterRsetInsideCircle",          CmdEnterCircle,     0, 1},  // entry: enter circle or sector
    /*  58 */ {"EnterRsetInsideSector",          CmdEnterCircle,     1, 1},  // entry: enter circle or sector
    /*  59 */ {"EnterRsetOutsideCircle",         CmdEnterCircle,     0, 2},  // entry: enter circle or sector
    /*  60 */ {"EnterRsetOutsideSector",         CmdEnterCircle,     1, 2},  // entry: enter circle or sector
    /*  61 */ {"EraseObject",                    CmdEraseObject,     0, 0},  // objects: own
    /*  62 */ {"ExportObject",                   CmdExportObject,    0, 0},  // import/export: own
    /*  63 */ {"FarthestInLset",                 CmdNearestQuery,    1, 2},  // nearest: nearest or farthest
    /*  64 */ {"FarthestInPset",                 CmdNearestQuery,    0, 2},  // nearest: nearest or farthest
    /*  65 */ {"Generalize",                     DeriveUnary,        9, 0},  // derive: one-operand derivation
    /*  66 */ {"Geometry",                       CmdGeometry,        0, 0},  // map: own
    /*  67 */ {"GoTo",                           CmdGoTo,            0, 0},  // scripts: in the dispatcher
    /*  68 */ {"Help",                           CmdHelp,            0, 0},  // settings: in the dispatcher
    /*  69 */ {"IfErrorlevel",                   CmdIf,              IF_ERRORLEVEL, 0},  // scripts: in the dispatcher
    /*  70 */ {"IfExist",                        CmdIf,              IF_EXIST, 0},  // scripts: in the dispatcher
    /*  71 */ {"IfNotErrorlevel",                CmdIf,              IF_NOT_ERRORLEVEL, 0},  // scripts: in the dispatcher
    /*  72 */ {"IfNotExist",                     CmdIf,              IF_NOT_EXIST, 0},  // scripts: in the dispatcher
    /*  73 */ {"ImportLset",                     CmdImport,          1, 0},  // import/export: import
    /*  74 */ {"ImportPset",                     CmdImport,          0, 0},  // import/export: import
    /*  75 */ {"ImportRset",                     CmdImport,          2, 0},  // import/export: import
    /*  76 */ {"Length",                         CmdMeasure,         1, 0},  // measure: measure
    /*  77 */ {"MapFieldAspect",                 CmdMapField,        2, 0},  // map: map field
    /*  78 */ {"MapFieldSize",                   CmdMapField,        1, 0},  // map: map field
    /*  79 */ {"NearestCells",                   CmdNearestCells,    0, 0},  // cell lattice: own
    /*  80 */ {"NearestInLset",                  CmdNearestQuery,    1, 1},  // nearest: nearest or farthest
    /*  81 */ {"NearestInPset",                  CmdNearestQuery,    0, 1},  // nearest: nearest or farthest
    /*  82 */ {"NearestInRset",                  CmdNearestQuery,    2, 1},  // nearest: nearest or farthest
    /*  83 */ {"NearestOrderedInPset",           CmdNearestQuery,    0, 0},  // nearest: nearest or farthest
    /*  84 */ {"NearLineInCollection",           CmdCollectionSearch, 1, 0},  // collections: collection search
    /*  85 */ {"NearPointInCollection",          CmdCollectionSearch, 0, 0},  // collections: collection search
    /*  86 */ {"OverheadRsetInCollection",       CmdCollectionSearch, 2, 0},  // collections: collection search
    /*  87 */ {"OverheadSurface",                CmdOverheadSurface, 6, 0},  // hull/TIN: own
    /*  88 */ {"PaintCDC",                       CmdPaint,           4, 0},  // paint: paint
    /*  89 */ {"PaintCost",                      CmdPaintCost,       0, 0},  // paint: own
    /*  90 */ {"PaintDCos3",                     CmdPaint,           5, 0},  // paint: paint
    /*  91 */ {"PaintLatLong",                   CmdPaint,           1, 0},  // paint: paint
    /*  92 */ {"PlotEnd",                        CmdPlotStartEnd,    0, 0},  // plot: plot start or end
    /*  93 */ {"PlotFrame",                      CmdPlotFrame,       0, 0},  // plot: own
    /*  94 */ {"PlotInclude",                    CmdPlotInclude,     0, 0},  // plot: own
    /*  95 */ {"PlotStart",                      CmdPlotStartEnd,    1, 0},  // plot: plot start or end
    /*  96 */ {"PlotString",                     CmdPlotString,      0, 0},  // plot: own
    /*  97 */ {"PtestLsetRset",                  CmdPointTest,       1, 0},  // verify: point test
    /*  98 */ {"PtestRsetRset",                  CmdPointTest,       2, 0},  // verify: point test
    /*  99 */ {"Quit",                           CmdQuit,            0, 0},  // scripts: in the dispatcher
    /* 100 */ {"ReadDecryptVix",                 CmdReadDecryptVix,  0, 0},  // index: own
    /* 101 */ {"ReadTix",                        CmdReadVix,         1, 0},  // index: read index
    /* 102 */ {"ReadVix",                        CmdReadVix,         0, 0},  // index: read index
    /* 103 */ {"ReCenter",                       CmdReCenter,        0, 0},  // map: own
    /* 104 */ {"ReFrame",                        CmdReFrame,         0, 0},  // map: own
    /* 105 */ {"ReportMapField",                 CmdReportMap,       3, 0},  // map: report
    /* 106 */ {"ReportMapGeometry",              CmdReportMap,       1, 0},  // map: report
    /* 107 */ {"ReportMemory",                   CmdReport,          2, 0},  // settings: report
    /* 108 */ {"ReportRunEnvironment",           CmdReport,          4, 0},  // settings: report
    /* 109 */ {"ReScale",                        CmdReScale,         0, 0},  // map: own
    /* 110 */ {"Return",                         CmdReturn,          0, 0},  // scripts: own
    /* 111 */ {"SaveBitmap",                     CmdSaveBitmap,      0, 0},  // bitmaps: own
    /* 112 */ {"Set",                            CmdSet,             0, 0},  // settings: own
    /* 113 */ {"SetEnv",                         CmdSetEnv,          0, 0},  // settings: own
    /* 114 */ {"Shell",                          CmdShell,           0, 0},  // settings: own
    /* 115 */ {"ShowBitmap",                     CmdShowBitmap,      0, 0},  // bitmaps: own
    /* 116 */ {"ShowMap",                        CmdShowMap,         0, 0},  // scripts: own
    /* 117 */ {"ShowPanel",                      CmdShowPanel,       0, 0},  // scripts: own
    /* 118 */ {"ShowTileset",                    CmdShowTileset,     0, 0},  // bitmaps: own
    /* 119 */ {"Tileset",                        CmdTileset,         0, 0},  // bitmaps: own
    /* 120 */ {"TraceOrbit",                     CmdTraceOrbit,      1, 0},  // orbits: trace orbit
    /* 121 */ {"TraceOrbitOverheadCollection",   CmdTraceOrbitCollection, 0, 0},  // orbits: own
    /* 122 */ {"TraceOrbitOverheadRset",         CmdTraceOrbitWatch, 8, 0},  // orbits: trace receivers or overhead
    /* 123 */ {"TraceOrbitReceivers",            CmdTraceOrbitWatch, 4, 0},  // orbits: trace receivers or overhead
    /* 124 */ {"TraceOrbitSwath",                CmdTraceOrbit,      3, 0},  // orbits: trace orbit
    /* 125 */ {"TraceSwath",                     CmdTraceOrbit,      2, 0},  // orbits: trace orbit
    /* 126 */ {"TraverseCells",                  CmdTraverseCells,   0, 0},  // cell lattice: own
    /* 127 */ {"UpdateBitmap",                   CmdUpdateBitmap,    0, 0},  // bitmaps: own
    /* 128 */ {"VerifyRsetBoundary",             CmdVerifyRset,      1, 0},  // verify: verify region set
    /* 129 */ {"VerifyRsetTopology",             CmdVerifyRset,      2, 0},  // verify: verify region set
    /* 130 */ {"VerifyRsetIsWorld",              CmdVerifyRset,      3, 0},  // verify: verify region set
    /* 131 */ {"VerifyRsetIsNull",               CmdVerifyRset,      4, 0},  // verify: verify region set
    /* 132 */ {"Version",                        CmdVersion,         0, 0},  // settings: in the dispatcher
    /* 133 */ {"WriteTextFile",                  CmdWriteTextFile,   0, 0},  // settings: own
    /* 134 */ {"Zzz",                            CmdZzz,             0, 0},  // interp: in the dispatcher
    {nullptr, nullptr, 0, 0},
};

int LookUpCommand(const char* word) {
  if (!word) return COMMAND_COUNT;
  for (int i = 0; i < COMMAND_COUNT; ++i)
    if (strcasecmp(kCommandTable[i].name, word) == 0) return i;
  return COMMAND_COUNT;
}

}  // namespace interp
