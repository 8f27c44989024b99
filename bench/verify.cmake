# Region checks: the boundary and topology checks of land 50m (and 10m)
# beside S2's nesting and validation of the same loops; the region point
# test of land 10m against a cap beside S2's boolean intersection test.
ombrel_bench(bench_verify SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_verify.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
ombrel_link_s2_ndebug(bench_verify)
target_include_directories(bench_verify PRIVATE ${CMAKE_SOURCE_DIR})
