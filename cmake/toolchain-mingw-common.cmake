# Shared by the two MinGW-w64 toolchain files, which set KELVARA_MINGW_TRIPLET.
#
# The "-posix" compilers are the ones with std::thread (GoogleTest needs it). Everything is
# linked statically against the compiler's runtime, so that kelvara.exe and kelvara.dll are all
# a user needs: without it the programs want libstdc++ and libwinpthread DLLs and, under Wine,
# exit silently when those are missing.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${KELVARA_MINGW_TRIPLET}")

set(CMAKE_C_COMPILER ${KELVARA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVARA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVARA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVARA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests (and GoogleTest's discovery at build time) run the built programs through Wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KELVARA_WINE NAMES wine)
  if(KELVARA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVARA_WINE})
  endif()
endif()
