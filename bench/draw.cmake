# Drawing on a 1600 x 1000 map: DrawCoast at the 10m level and DisplayArea of
# the 10m land region (world-wide and regional), SaveBitmap PNG; beside each,
# Cairo alone doing the nearest job (stroking the same points, writing the
# same surface with its own PNG writer).
ombrel_bench(bench_draw SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_draw.cpp
             LIBS ombrel_display ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
if(TARGET ombrel)
  add_dependencies(bench_draw ombrel)
endif()
# The land region for the in-process fills is read from the source's data/.
target_compile_definitions(bench_draw PRIVATE OMBREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
