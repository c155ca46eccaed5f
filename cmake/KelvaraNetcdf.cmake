# NetCDF output (UGRID meshes) through the NetCDF C library when it is found (Debian:
# libnetcdf-dev), by pkg-config or else by its header and library. Only src/netcdf/writer.cpp
# sees netcdf.h, and, as with GDAL, the library is not linked: the writer loads it by its file
# name when the first NetCDF file is written, so that no other run loads NetCDF and the forty
# libraries it brings. The unit tests link it to read files back (KELVARA_NETCDF_TARGET).
# Without it (and in the Windows builds) src/netcdf/ builds a writer that refuses.
option(KELVARA_WITH_NETCDF "Write NetCDF (UGRID) files when the NetCDF C library is found" ON)
set(KELVARA_HAVE_NETCDF OFF)
if(KELVARA_WITH_NETCDF AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(KELVARA_NETCDF QUIET IMPORTED_TARGET netcdf)
  endif()
  if(TARGET PkgConfig::KELVARA_NETCDF)
    set(_kelvara_netcdf PkgConfig::KELVARA_NETCDF)
    set(_kelvara_netcdf_version "${KELVARA_NETCDF_VERSION}")
    set(KELVARA_HAVE_NETCDF ON)
  else()
    find_path(KELVARA_NETCDF_INCLUDE_DIR netcdf.h)
    find_library(KELVARA_NETCDF_LIBRARY netcdf)
    if(KELVARA_NETCDF_INCLUDE_DIR AND KELVARA_NETCDF_LIBRARY)
      add_library(kelvara_netcdf INTERFACE IMPORTED)
      target_include_directories(kelvara_netcdf INTERFACE ${KELVARA_NETCDF_INCLUDE_DIR})
      target_link_libraries(kelvara_netcdf INTERFACE ${KELVARA_NETCDF_LIBRARY})
      set(_kelvara_netcdf kelvara_netcdf)
      set(_kelvara_netcdf_version "(${KELVARA_NETCDF_LIBRARY})")
      set(KELVARA_HAVE_NETCDF ON)
    endif()
  endif()
endif()
if(NOT KELVARA_HAVE_NETCDF)
  message(STATUS "NetCDF not found: this build cannot write NetCDF files; install libnetcdf-dev "
                 "for them")
  return()
endif()

# The file the library is loaded by: the one found, by its versioned name (the soname on
# Debian) when it is a link to one.
set(_kelvara_netcdf_file "")
if(KELVARA_NETCDF_LINK_LIBRARIES)
  list(FILTER KELVARA_NETCDF_LINK_LIBRARIES INCLUDE REGEX "netcdf")
  list(GET KELVARA_NETCDF_LINK_LIBRARIES 0 _kelvara_netcdf_file)
elseif(KELVARA_NETCDF_LIBRARY)
  set(_kelvara_netcdf_file "${KELVARA_NETCDF_LIBRARY}")
endif()
if(_kelvara_netcdf_file)
  get_filename_component(_kelvara_netcdf_file "${_kelvara_netcdf_file}" REALPATH)
  # In a folder the loader searches anyway, by its name alone (as the soname would be).
  get_filename_component(_kelvara_netcdf_dir "${_kelvara_netcdf_file}" DIRECTORY)
  if(_kelvara_netcdf_dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES OR
     _kelvara_netcdf_dir IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES)
    get_filename_component(_kelvara_netcdf_file "${_kelvara_netcdf_file}" NAME)
  endif()
else()
  set(_kelvara_netcdf_file "libnetcdf.so")
endif()

message(STATUS "NetCDF ${_kelvara_netcdf_version} found: kelvara writes NetCDF (UGRID) files, "
               "loading ${_kelvara_netcdf_file}")
set_source_files_properties(src/netcdf/writer.cpp PROPERTIES
  INCLUDE_DIRECTORIES "$<TARGET_PROPERTY:${_kelvara_netcdf},INTERFACE_INCLUDE_DIRECTORIES>"
  COMPILE_DEFINITIONS "KELVARA_HAVE_NETCDF;KELVARA_NETCDF_LIBRARY=\"${_kelvara_netcdf_file}\"")
target_link_libraries(kelvara PRIVATE ${CMAKE_DL_LIBS})
target_link_libraries(kelvara_static PUBLIC ${CMAKE_DL_LIBS})
target_compile_definitions(kelvara_static INTERFACE KELVARA_HAVE_NETCDF)
set(KELVARA_NETCDF_TARGET ${_kelvara_netcdf})
