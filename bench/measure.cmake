# Area of land 10m by each method beside GeographicLib's PolygonArea, and
# zonesum's cell-area loop on isotype.vix.
if(TARGET ombrel_cells)
  ombrel_bench(bench_measure SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_measure.cpp
               LIBS ombrel_geodesy ombrel_cells)
  target_compile_definitions(bench_measure PRIVATE OMBREL_BIN_DIR="${OMBREL_BIN_DIR}"
                             OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(TARGET ombrel_indexes)
    add_dependencies(bench_measure ombrel_indexes)
  endif()
endif()
