# The example Europe sheet by sheeter, end to end, beside the same plot made
# by ombrel --batch in the same run; and the world sheet.
ombrel_bench(bench_sheeter SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_sheeter.cpp LIBS)
target_compile_definitions(bench_sheeter PRIVATE OMBREL_BIN_DIR="${OMBREL_BIN_DIR}")
add_dependencies(bench_sheeter sheeter sheeter_atlas ombrel)
