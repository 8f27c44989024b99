# Clipping and generalising: DeriveLsetInside of 10 000 random lines against
# land 10m beside S2's IntersectWithPolyline; Generalize of land 10m at 1 km
# beside GEOS's GEOSSimplify_r (planar Douglas-Peucker, degrees).
find_library(GEOS_C_LIBRARY geos_c)
ombrel_bench(bench_clip SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_clip.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
ombrel_link_s2_ndebug(bench_clip)
target_include_directories(bench_clip PRIVATE ${CMAKE_SOURCE_DIR})
if(GEOS_C_LIBRARY)
  target_link_libraries(bench_clip PRIVATE ${GEOS_C_LIBRARY})
  target_compile_definitions(bench_clip PRIVATE OMBREL_HAVE_GEOS=1)
endif()
