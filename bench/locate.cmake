# Cell location on the shipped isotype.vix beside S2's cell ids of the same
# points, and the time to load the index.
ombrel_bench(bench_locate SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_locate.cpp
             LIBS ombrel_cells ombrel_geodesy)
add_dependencies(bench_locate s2peer_debian s2peer_ndebug)
if(TARGET ombrel_indexes)
  add_dependencies(bench_locate ombrel_indexes)
endif()
