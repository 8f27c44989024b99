# Plots beside the screen: DrawCoast (10m), DrawGrid and DisplayArea of land
# 10m over Europe at 1:5 000 000, to the a4 plot and to the 1056 x 684 screen
# in the same run; the plot's bytes; PE encoding in points per second.
ombrel_bench(bench_plot SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_plot.cpp LIBS ombrel_plot)
if(TARGET ombrel)
  add_dependencies(bench_plot ombrel)
endif()
