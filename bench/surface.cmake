# DisplaySurfaceHypso and DisplaySurfaceShade of a TIN of about 100 000
# triangles on a 1600 x 1000 ortho and world map.
ombrel_bench(bench_surface SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_surface.cpp LIBS ombrel_display)
target_include_directories(bench_surface PRIVATE ${CMAKE_SOURCE_DIR})
