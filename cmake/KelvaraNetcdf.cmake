# NetCDF output (UGRID meshes) through the NetCDF C library when it is found (Debian:
# libnetcdf-dev), by pkg-config or else by its header and library. Only src/netcdf/writer.cpp
# sees netcdf.h; it is compiled with KELVARA_HAVE_NETCDF, and the library is linked to libkelvara.
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

message(STATUS "NetCDF ${_kelvara_netcdf_version} found: kelvara writes NetCDF (UGRID) files")
set_source_files_properties(src/netcdf/writer.cpp PROPERTIES
  INCLUDE_DIRECTORIES "$<TARGET_PROPERTY:${_kelvara_netcdf},INTERFACE_INCLUDE_DIRECTORIES>"
  COMPILE_DEFINITIONS KELVARA_HAVE_NETCDF)
target_link_libraries(kelvara PRIVATE ${_kelvara_netcdf})
target_link_libraries(kelvara_static PUBLIC ${_kelvara_netcdf})
target_compile_definitions(kelvara_static INTERFACE KELVARA_HAVE_NETCDF)
