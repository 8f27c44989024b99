# The desktop utilities: fileshift across file systems beside mv, and the
# delay from a line appended to a file to pagewatch's output.
ombrel_bench(bench_utilities SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_utilities.cpp)
target_compile_definitions(bench_utilities PRIVATE OMBREL_BIN_DIR="${OMBREL_BIN_DIR}")
add_dependencies(bench_utilities fileshift pagewatch)
