# lumenlog: requests per second posted into a headless window.
ombrel_bench(bench_lumenlog SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_lumenlog.cpp LIBS ombrel_platform)
target_compile_definitions(bench_lumenlog PRIVATE OMBREL_BIN_DIR="${OMBREL_BIN_DIR}")
add_dependencies(bench_lumenlog lumenlog)
