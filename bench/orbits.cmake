# Orbits: the model's positions per second beside satellite.js (node) and
# python3-sgp4, and the orbit commands' times on one day at 1 s steps.
ombrel_bench(bench_orbits SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_orbits.cpp
  LIBS ombrel_interp)
target_include_directories(bench_orbits PRIVATE ${CMAKE_SOURCE_DIR})
