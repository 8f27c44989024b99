# Object import and export: ImportPset of a million points, ImportRset and
# ExportObject of Natural Earth land 10m, beside S2 doing the nearest job
# (cell ids of the same points; a shape index of the same rings).
ombrel_bench(bench_objects SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_objects.cpp
             LIBS ombrel_cells)
ombrel_link_s2_ndebug(bench_objects)
