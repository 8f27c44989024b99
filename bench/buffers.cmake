# Near points and near lines beside S2BufferOperation (points one AddPoint
# each; lines RIGHT and LEFT and the union of their polygons).
ombrel_bench(bench_buffers SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_buffers.cpp
             LIBS ombrel_ops ombrel_cells ombrel_geodesy ombrel_platform)
ombrel_link_s2_ndebug(bench_buffers)
if(TARGET ombrel_indexes)
  add_dependencies(bench_buffers ombrel_indexes)
endif()
