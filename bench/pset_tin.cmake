# DerivePsetTin of 1 000 000 random points on isotype.vix and the surface
# value at random positions and along a pointer's path.
ombrel_bench(bench_pset_tin SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_pset_tin.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
target_include_directories(bench_pset_tin PRIVATE ${CMAKE_SOURCE_DIR})
