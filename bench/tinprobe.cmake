# tinprobe on 100 000 points with its trace and drawing (pauses off) beside
# the silent construction of the library in the same run.
ombrel_bench(bench_tinprobe SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_tinprobe.cpp LIBS ombrel_ops ombrel_platform)
target_compile_definitions(bench_tinprobe PRIVATE OMBREL_BIN_DIR="${OMBREL_BIN_DIR}")
add_dependencies(bench_tinprobe tinprobe lumenlog)
