# Windows builds (MinGW-w64, see cmake/toolchain-mingw64.cmake and toolchain-mingw32.cmake):
# kelvara.exe and kelvara.dll side by side in the build folder, the DLL's exports written from
# cmake/exports.txt, and GoogleTest built from its sources for the target. Included by the
# top-level CMakeLists.txt after the library and tool targets, before the tests.
include(${CMAKE_CURRENT_LIST_DIR}/KelvaraExports.cmake)

# Every program of the build (tests included) lands beside kelvara.dll, so that each finds it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# The module-definition file alone decides what the DLL exports: plain and decorated names of
# every routine in the list. The sources then carry no dllexport attributes of their own
# (kelvara.h leaves KELVARA_API empty under KELVARA_MODULE_DEFINITION): on 32-bit x86 they
# would add a third name, NAME@bytes, to every routine.
set(KELVARA_EXPORT_LIST ${PROJECT_SOURCE_DIR}/cmake/exports.txt)
set(KELVARA_DEF_FILE ${PROJECT_BINARY_DIR}/kelvara.def)
set(KELVARA_IMPORT_DEF_FILE ${PROJECT_BINARY_DIR}/kelvara-import.def)
kelvara_write_def(${KELVARA_EXPORT_LIST} ${KELVARA_DEF_FILE} ${KELVARA_IMPORT_DEF_FILE}
                  ${CMAKE_SIZEOF_VOID_P})
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${KELVARA_EXPORT_LIST} ${CMAKE_CURRENT_LIST_DIR}/KelvaraExports.cmake)
target_sources(kelvara PRIVATE ${KELVARA_DEF_FILE})
target_compile_definitions(kelvara_objects PUBLIC KELVARA_MODULE_DEFINITION)
target_compile_definitions(kelvara_static PUBLIC KELVARA_MODULE_DEFINITION)
# kelvara.dll (not libkelvara.dll) with its import library libkelvara.dll.a.
set_target_properties(kelvara PROPERTIES PREFIX "" IMPORT_PREFIX "lib")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 32-bit x86: the import library that the linker writes would give callers the plain names;
  # it is written again from the import def file (see KelvaraExports.cmake) before anything
  # links against it.
  get_filename_component(compiler_name "${CMAKE_C_COMPILER}" NAME)
  get_filename_component(compiler_dir "${CMAKE_C_COMPILER}" DIRECTORY)
  string(REGEX REPLACE "gcc.*$" "dlltool" dlltool_name "${compiler_name}")
  find_program(KELVARA_DLLTOOL NAMES ${dlltool_name} dlltool
               HINTS "${compiler_dir}" NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KELVARA_DLLTOOL)
    message(FATAL_ERROR "dlltool (binutils) is needed to write the 32-bit import library")
  endif()
  add_custom_command(TARGET kelvara POST_BUILD
    COMMAND ${KELVARA_DLLTOOL} --input-def ${KELVARA_IMPORT_DEF_FILE} --dllname kelvara.dll
            --output-lib $<TARGET_LINKER_FILE:kelvara>
    COMMENT "Writing the import library of kelvara.dll from kelvara-import.def"
    VERBATIM)
  # The x87 unit's extended precision would make 32-bit results differ from the 64-bit builds'
  # (the toolchain file sets these for every target; here for any other way of building).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(kelvara_objects PRIVATE -msse2 -mfpmath=sse)
  endif()
endif()

# GoogleTest for the target, from Debian's googletest sources (the host's libgtest is of no use
# to a cross build).
if(KELVARA_BUILD_TESTS AND NOT TARGET GTest::gtest)
  find_path(KELVARA_GTEST_SOURCE_DIR CMakeLists.txt
    PATHS /usr/src/googletest/googletest /usr/src/gtest
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KELVARA_GTEST_SOURCE_DIR)
    message(FATAL_ERROR "The Windows tests need GoogleTest's sources (Debian: googletest), or "
                        "configure with -DKELVARA_BUILD_TESTS=OFF.")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KELVARA_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
