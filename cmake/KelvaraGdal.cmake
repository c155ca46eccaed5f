# Grids (GeoTIFF) are written through GDAL when it is found (Debian: libgdal-dev). Only
# src/grid/writer.cpp sees GDAL's headers, and the library is not linked: the writer loads it
# by its file name when the first grid is written, so that every other run starts without
# loading GDAL and the hundred libraries it brings. The test programs link it to read grids back.
# Without GDAL (and in the Windows builds) src/grid/ builds a writer that refuses.
option(KELVARA_WITH_GDAL "Write grids through GDAL when it is found" ON)
if(KELVARA_WITH_GDAL AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  find_package(GDAL CONFIG QUIET)
  if(NOT TARGET GDAL::GDAL)
    find_package(GDAL MODULE QUIET)
  endif()
endif()
if(NOT TARGET GDAL::GDAL)
  message(STATUS "GDAL not found: this build cannot write grids (-grid); install libgdal-dev for them")
  return()
endif()

# The name the library is loaded by: its soname where GDAL's package gives it, else its file.
set(_kelvara_gdal_library "")
foreach(_property IMPORTED_SONAME IMPORTED_SONAME_RELEASE IMPORTED_SONAME_NONE
                  IMPORTED_SONAME_NOCONFIG IMPORTED_LOCATION IMPORTED_LOCATION_RELEASE
                  IMPORTED_LOCATION_NONE IMPORTED_LOCATION_NOCONFIG)
  get_target_property(_value GDAL::GDAL ${_property})
  if(_value AND NOT _kelvara_gdal_library)
    set(_kelvara_gdal_library "${_value}")
  endif()
endforeach()
if(NOT _kelvara_gdal_library AND GDAL_LIBRARY)
  get_filename_component(_kelvara_gdal_library "${GDAL_LIBRARY}" REALPATH)
endif()
if(NOT _kelvara_gdal_library)
  set(_kelvara_gdal_library "libgdal.so")
endif()

message(STATUS "GDAL ${GDAL_VERSION} found: kelvara writes grids (-grid), loading ${_kelvara_gdal_library}")
# The polygon layer writer (GeoPackage) loads the same library through src/grid/gdal_library.cpp.
set_source_files_properties(src/grid/writer.cpp src/grid/gdal_library.cpp src/vector/layers.cpp
  PROPERTIES
  INCLUDE_DIRECTORIES "$<TARGET_PROPERTY:GDAL::GDAL,INTERFACE_INCLUDE_DIRECTORIES>"
  COMPILE_DEFINITIONS "KELVARA_WITH_GDAL;KELVARA_GDAL_LIBRARY=\"${_kelvara_gdal_library}\"")
target_link_libraries(kelvara PRIVATE ${CMAKE_DL_LIBS})
target_link_libraries(kelvara_static PUBLIC ${CMAKE_DL_LIBS})
# For the programs that read grids back (tests, benchmarks).
target_link_libraries(kelvara_static INTERFACE GDAL::GDAL)
target_compile_definitions(kelvara_static INTERFACE KELVARA_WITH_GDAL)
