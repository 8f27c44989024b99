# The cell-area loop over every cell of a shipped index (isotype.vix), beside
# GeographicLib's PolygonArea of the same Voronoi polygons.
if(TARGET ombrel_cells)
  ombrel_bench(bench_cellarea SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_cellarea.cpp
               LIBS ombrel_cells ombrel_geodesy)
  target_compile_definitions(bench_cellarea PRIVATE OMBREL_BIN_DIR="${OMBREL_BIN_DIR}")
  if(TARGET ombrel_indexes)
    add_dependencies(bench_cellarea ombrel_indexes)
  endif()
endif()
