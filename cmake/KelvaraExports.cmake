# Reads cmake/exports.txt, the one list of what kelvara.dll exports, and writes the
# module-definition file from it. Used at configure time and by the test that checks the list
# against include/kelvara.h (cmake -P), so it needs nothing but plain CMake.

# kelvara_read_exports(<list file> <names var> <positions var>): the names in list order and,
# for each, its number of argument positions, "DATA" for exported data or "ENTRY" for the
# entry of kelvara.exe (a plain C function outside the public interface).
function(kelvara_read_exports list_file names_var positions_var)
  file(STRINGS "${list_file}" lines)
  set(names)
  set(positions)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)[ \t]+([0-9]+|DATA|ENTRY)$")
      message(FATAL_ERROR "${list_file}: cannot read the line \"${line}\"")
    endif()
    if(CMAKE_MATCH_1 IN_LIST names)
      message(FATAL_ERROR "${list_file}: ${CMAKE_MATCH_1} is listed twice")
    endif()
    list(APPEND names "${CMAKE_MATCH_1}")
    list(APPEND positions "${CMAKE_MATCH_2}")
  endforeach()
  set(${names_var} "${names}" PARENT_SCOPE)
  set(${positions_var} "${positions}" PARENT_SCOPE)
endfunction()

# kelvara_write_def(<list file> <def file> <import def file> <pointer size>): every routine
# under its plain name and under the alias _NAME@bytes (4 bytes per argument position).
#  - x86-64: one calling convention and undecorated symbols; the alias points at NAME.
#  - 32-bit x86: the routines are stdcall, so the compiler's own symbol is NAME@bytes (with the
#    leading underscore of that target). The DLL is linked with "NAME = NAME@bytes": the linker
#    sorts the export name table by the exported name, and Windows finds names in it by binary
#    search. ("NAME@bytes == NAME" would export the same names but sort them by NAME@bytes, so
#    AINTEGER would come after AINTEGER8PREC0 and could not be found.) Callers compiled against
#    the header look for the decorated name, so the import library is made apart, from the
#    import def file, where "NAME@bytes == NAME" gives the symbol NAME@bytes that imports NAME.
#    On x86-64 the import def file is the def file.
function(kelvara_write_def list_file def_file import_def_file pointer_size)
  kelvara_read_exports("${list_file}" names positions)
  set(head "; Generated from cmake/exports.txt at configure time; edit that list instead.\n")
  string(APPEND head "LIBRARY kelvara.dll\nEXPORTS\n")
  set(text "${head}")
  set(import_text "${head}")
  foreach(name position IN ZIP_LISTS names positions)
    if(position STREQUAL "DATA")
      string(APPEND text "    ${name} DATA\n")
      string(APPEND import_text "    ${name} DATA\n")
    elseif(position STREQUAL "ENTRY")
      string(APPEND text "    ${name}\n")
      string(APPEND import_text "    ${name}\n")
    else()
      math(EXPR bytes "4 * ${position}")
      if(pointer_size EQUAL 4)
        string(APPEND text "    ${name} = ${name}@${bytes}\n")
        string(APPEND text "    _${name}@${bytes} = ${name}@${bytes}\n")
        string(APPEND import_text "    ${name}@${bytes} == ${name}\n")
      else()
        string(APPEND text "    ${name}\n")
        string(APPEND text "    _${name}@${bytes} = ${name}\n")
        string(APPEND import_text "    ${name}\n")
        string(APPEND import_text "    _${name}@${bytes} = ${name}\n")
      endif()
    endif()
  endforeach()
  kelvara_write_if_changed("${def_file}" "${text}")
  kelvara_write_if_changed("${import_def_file}" "${import_text}")
endfunction()

# Writes a generated file only when its text changes, so that a new configure does not rebuild
# for nothing.
function(kelvara_write_if_changed file text)
  set(old "")
  if(EXISTS "${file}")
    file(READ "${file}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${file}" "${text}")
  endif()
endfunction()
