# Pointer modes: AddCellCenters -10000 on isotype (the growth alone, and the
# whole command in the program), and an entry script of 10 000 events.
ombrel_bench(bench_modes SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_modes.cpp LIBS ombrel_cells)
if(TARGET ombrel)
  add_dependencies(bench_modes ombrel)
endif()
