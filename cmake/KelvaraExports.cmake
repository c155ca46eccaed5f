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

# kelvara_write_def(<list file> <def file> <pointer size>): every routine under its plain name
# and under the alias _NAME@bytes (4 bytes per argument position).
#  - 32-bit x86: the routines are stdcall, so the compiler's own symbol is already NAME@bytes
#    (with the leading underscore of that target). "NAME@bytes == NAME" exports it as NAME
#    while the import library keeps the decorated name that callers compiled against the
#    header look for; "_NAME@bytes = NAME@bytes" adds the alias.
#  - x86-64: one calling convention and undecorated symbols; the alias points at NAME.
function(kelvara_write_def list_file def_file pointer_size)
  kelvara_read_exports("${list_file}" names positions)
  set(text "; Generated from cmake/exports.txt at configure time; edit that list instead.\n")
  string(APPEND text "LIBRARY kelvara.dll\nEXPORTS\n")
  foreach(name position IN ZIP_LISTS names positions)
    if(position STREQUAL "DATA")
      string(APPEND text "    ${name} DATA\n")
    elseif(position STREQUAL "ENTRY")
      string(APPEND text "    ${name}\n")
    else()
      math(EXPR bytes "4 * ${position}")
      if(pointer_size EQUAL 4)
        string(APPEND text "    ${name}@${bytes} == ${name}\n")
        string(APPEND text "    _${name}@${bytes} = ${name}@${bytes}\n")
      else()
        string(APPEND text "    ${name}\n")
        string(APPEND text "    _${name}@${bytes} = ${name}\n")
      endif()
    endif()
  endforeach()
  kelvara_write_if_changed("${def_file}" "${text}")
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
