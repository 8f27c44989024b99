# Derivations: points inside land 10m against S2, unique and common points.
ombrel_bench(bench_derive SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_derive.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
add_dependencies(bench_derive s2peer_debian s2peer_ndebug)
target_include_directories(bench_derive PRIVATE ${CMAKE_SOURCE_DIR})
