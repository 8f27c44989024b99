# Painting and tilesets on a 1600 x 1000 map: PaintLatLong on an ortho and a
# world map, PaintCost over a point set, the library calls timed directly;
# beside each, the plain per-pixel inverse loop it replaces; ShowTileset of
# the shipped world tileset as ombrel runs it.
ombrel_bench(bench_paint SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_paint.cpp LIBS ombrel_display)
if(TARGET ombrel_world_tileset)
  add_dependencies(bench_paint ombrel_world_tileset)
endif()
