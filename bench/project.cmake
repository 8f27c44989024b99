# ProjectForward per projection beside PROJ's proj_trans of the same points.
pkg_check_modules(PROJLIB IMPORTED_TARGET proj)
if(PROJLIB_FOUND)
  ombrel_bench(bench_project SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bench_project.cpp
               LIBS ombrel_display PkgConfig::PROJLIB)
endif()
