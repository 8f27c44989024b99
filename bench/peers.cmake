# The S2 peers of bench_derive and bench_locate: one program (s2_peer.cpp)
# built against Debian's libs2 and against S2 compiled -O2 -DNDEBUG from
# Debian's source package of the same version (bench/CMakeLists.txt).
ombrel_bench(s2peer_debian SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/s2_peer.cpp LIBS s2 absl_raw_logging_internal)
ombrel_bench(s2peer_ndebug SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/s2_peer.cpp)
ombrel_link_s2_ndebug(s2peer_ndebug)
