# Region algebra: land with a cap, common part and combination, beside S2's
# boolean operations on the same loops; the complement of land 10m.
ombrel_bench(bench_regions SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_regions.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
ombrel_link_s2_ndebug(bench_regions)
target_include_directories(bench_regions PRIVATE ${CMAKE_SOURCE_DIR})
