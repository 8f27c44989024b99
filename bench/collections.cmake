# Collections: the overhead search over countries 10m beside S2's
# containment query, the nearest point of a 260 000-point collection beside
# S2ClosestPointQuery, and the countries 10m build. The 10m countries are
# converted at build time from the world-atlas copy in tests/data (they are
# not shipped beside the programs).
set(OMBREL_WORLD_ATLAS_DIR ${CMAKE_SOURCE_DIR}/tests/data/world-atlas CACHE PATH
    "Folder of the world-atlas 2.0.2 TopoJSON files (countries-10m.json)")
ombrel_bench(bench_collections SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_collections.cpp
  LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
ombrel_link_s2_ndebug(bench_collections)
if(EXISTS ${OMBREL_WORLD_ATLAS_DIR}/countries-10m.json)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bench/countries10m.rgn ${CMAKE_BINARY_DIR}/bench/countries10m.names
    COMMAND atlas2rgn --countries ${OMBREL_WORLD_ATLAS_DIR}/countries-10m.json
            ${CMAKE_BINARY_DIR}/bench/countries10m.rgn ${CMAKE_BINARY_DIR}/bench/countries10m.names
    DEPENDS atlas2rgn ${OMBREL_WORLD_ATLAS_DIR}/countries-10m.json
    COMMENT "countries 10m rings for bench_collections" VERBATIM)
  add_custom_target(bench_collections_data DEPENDS ${CMAKE_BINARY_DIR}/bench/countries10m.rgn)
  add_dependencies(bench_collections bench_collections_data)
endif()
if(TARGET ombrel_indexes)
  add_dependencies(bench_collections ombrel_indexes)
endif()
