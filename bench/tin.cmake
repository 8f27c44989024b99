# Hull and TIN: the silent TIN of 100 000 and 1 000 000 uniform planar points
# beside qhull's Delaunay triangulation in the same run; the spherical hull of
# 1 000 000 points in a 60 degree cap beside S2ConvexHullQuery.
ombrel_bench(bench_tin SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_tin.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform qhull_r)
ombrel_link_s2_ndebug(bench_tin)
target_include_directories(bench_tin PRIVATE ${CMAKE_SOURCE_DIR})
