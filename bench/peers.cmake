# The S2 peers of bench_derive and bench_locate: one program (s2_peer.cpp)
# built against Debian's libs2 and against S2 compiled -O2 -DNDEBUG from
# Debian's source package of the same version. That build is made once, by
# bench/build-s2.sh, into OMBREL_S2_NDEBUG_DIR (the build folder's s2-ndebug)
# and kept there.
set(OMBREL_S2_NDEBUG_DIR ${CMAKE_BINARY_DIR}/s2-ndebug CACHE PATH "Where the -O2 -DNDEBUG S2 is built")
set(OMBREL_S2_JOBS 2 CACHE STRING "Parallel jobs for building the -O2 -DNDEBUG S2")
set(S2_NDEBUG_LIB ${OMBREL_S2_NDEBUG_DIR}/build/libs2.so)
add_custom_command(OUTPUT ${S2_NDEBUG_LIB}
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/build-s2.sh ${OMBREL_S2_NDEBUG_DIR} ${OMBREL_S2_JOBS}
  COMMENT "S2 -O2 -DNDEBUG from Debian's source package (once)" USES_TERMINAL VERBATIM)
add_custom_target(s2_ndebug DEPENDS ${S2_NDEBUG_LIB})

ombrel_bench(s2peer_debian SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/s2_peer.cpp LIBS s2 absl_raw_logging_internal)
ombrel_bench(s2peer_ndebug SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/s2_peer.cpp
             LIBS ${S2_NDEBUG_LIB} absl_raw_logging_internal)
add_dependencies(s2peer_ndebug s2_ndebug)
# This build's own headers, ahead of Debian's in /usr/include, and NDEBUG
# for their inline code as for the library.
target_include_directories(s2peer_ndebug SYSTEM BEFORE PRIVATE ${OMBREL_S2_NDEBUG_DIR}/include)
target_compile_definitions(s2peer_ndebug PRIVATE NDEBUG)
set_target_properties(s2peer_ndebug PROPERTIES BUILD_RPATH ${OMBREL_S2_NDEBUG_DIR}/build)
