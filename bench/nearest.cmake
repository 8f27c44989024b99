# Nearest point, ordered list, nearest on lines and on a region boundary,
# beside S2's closest-point and closest-edge queries and, when
# libnanoflann-dev is installed, a nanoflann 3-D KD-tree.
ombrel_bench(bench_nearest SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_nearest.cpp
             LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
ombrel_link_s2_ndebug(bench_nearest)
if(EXISTS /usr/include/nanoflann.hpp)
  target_compile_definitions(bench_nearest PRIVATE OMBREL_HAVE_NANOFLANN=1)
endif()
if(TARGET ombrel_indexes)
  add_dependencies(bench_nearest ombrel_indexes)
endif()
