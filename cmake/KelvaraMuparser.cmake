# Expressions (-calc) are parsed and evaluated through muParser when it is found (Debian:
# libmuparser-dev). Only src/calc/engine_muparser.cpp sees its headers; the library is linked to
# kelvara. Without muParser (and in the Windows builds) src/calc/ builds a calculator that
# refuses, saying which package brings it.
option(KELVARA_WITH_MUPARSER "Evaluate expressions (-calc) through muParser when it is found" ON)
if(KELVARA_WITH_MUPARSER AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  find_package(muparser CONFIG QUIET)
  if(NOT TARGET muparser::muparser)
    # A muParser without its CMake package (built by hand): its header and library.
    find_path(KELVARA_MUPARSER_INCLUDE_DIR muParser.h)
    find_library(KELVARA_MUPARSER_LIBRARY muparser)
    if(KELVARA_MUPARSER_INCLUDE_DIR AND KELVARA_MUPARSER_LIBRARY)
      add_library(muparser::muparser UNKNOWN IMPORTED)
      set_target_properties(muparser::muparser PROPERTIES
        IMPORTED_LOCATION "${KELVARA_MUPARSER_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${KELVARA_MUPARSER_INCLUDE_DIR}")
    endif()
  endif()
endif()
if(NOT TARGET muparser::muparser)
  message(STATUS "muParser not found: this build has no calculator (-calc); install libmuparser-dev for it")
  return()
endif()

message(STATUS "muParser ${muparser_VERSION} found: kelvara evaluates expressions (-calc)")
set_source_files_properties(src/calc/engine_muparser.cpp PROPERTIES
  INCLUDE_DIRECTORIES "$<TARGET_PROPERTY:muparser::muparser,INTERFACE_INCLUDE_DIRECTORIES>"
  COMPILE_DEFINITIONS KELVARA_HAVE_MUPARSER)
# The engine asks OpenMP (which Debian's muParser brings) for one thread per caller by name.
target_link_libraries(kelvara PRIVATE muparser::muparser ${CMAKE_DL_LIBS})
target_link_libraries(kelvara_static PUBLIC muparser::muparser ${CMAKE_DL_LIBS})
# For the programs that test the calculator.
target_compile_definitions(kelvara_static INTERFACE KELVARA_HAVE_MUPARSER)
