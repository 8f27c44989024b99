# Region area of Natural Earth land by the methods s, p and r beside
# GeographicLib's PolygonArea, and the coordinate conversions beside
# GeographicLib's Geocentric.
ombrel_bench(bench_area SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_area.cpp
             LIBS ombrel_geodesy nlohmann_json::nlohmann_json)
target_compile_definitions(bench_area PRIVATE OMBREL_TEST_DATA_DIR="${OMBREL_TEST_DATA_DIR}")
