# Checks a built module file: it exports exactly VirtualdubFilterModuleInit2 and
# VirtualdubFilterModuleDeinit under those undecorated names and, on Windows, imports
# only DLLs that are part of Windows and carries its version resource.
#
#   cmake -DOBJDUMP=... -DMODULE=.../trackloom.vdf -DKIND=pe|elf -P check_module_file.cmake
cmake_minimum_required(VERSION 3.25)

set(expected_exports VirtualdubFilterModuleDeinit VirtualdubFilterModuleInit2)
# DLLs every Windows installation has; the editor loads nothing else for us.
set(windows_dlls kernel32.dll user32.dll gdi32.dll comdlg32.dll shell32.dll shlwapi.dll
                 ole32.dll oleaut32.dll comctl32.dll advapi32.dll msvcrt.dll)

if(NOT EXISTS "${MODULE}")
  message(FATAL_ERROR "module file not found: ${MODULE}")
endif()

set(failures "")

if(KIND STREQUAL "pe")
  execute_process(COMMAND "${OBJDUMP}" -p "${MODULE}" OUTPUT_VARIABLE dump
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p failed: ${err}")
  endif()
  string(REPLACE "\n" ";" lines "${dump}")

  set(imports "")
  set(exports "")
  set(in_names FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: ([^ \t]+)")
      string(TOLOWER "${CMAKE_MATCH_1}" dll)
      list(APPEND imports "${dll}")
    elseif(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(in_names TRUE)
    elseif(in_names AND line MATCHES "^[ \t]+Ordinal +Hint +Name$")
      # binutils 2.44 and later head the table and give each name's ordinal and hint:
      # "[   0] +base[   1]  0000 Name"; earlier ones give "[   0] Name".
    elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (\\+base\\[ *[0-9]+\\] +[0-9a-f]+ )?(.+)$")
      list(APPEND exports "${CMAKE_MATCH_2}")
    elseif(in_names)
      set(in_names FALSE)
    endif()
  endforeach()

  if(imports STREQUAL "")
    list(APPEND failures "no import table found")
  endif()
  foreach(dll IN LISTS imports)
    if(NOT dll IN_LIST windows_dlls)
      list(APPEND failures "imports ${dll}, which is not part of Windows")
    endif()
  endforeach()

  # The version resource's strings are UTF-16 inside the file.
  file(STRINGS "${MODULE}" resource_strings ENCODING UTF-16LE
       REGEX "VirtualDub filter to create VideoNow Color tracks|trackloom\\.vdf")
  list(LENGTH resource_strings found)
  if(found LESS 2)
    list(APPEND failures "version resource missing (FileDescription/OriginalFilename)")
  endif()
  message(STATUS "imports: ${imports}")
elseif(KIND STREQUAL "elf")
  execute_process(COMMAND "${OBJDUMP}" -T "${MODULE}" OUTPUT_VARIABLE dump
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -T failed: ${err}")
  endif()
  string(REPLACE "\n" ";" lines "${dump}")
  set(exports "")
  # Defined dynamic symbols: "<address> g    DF .text <size> [<version>] <name>".
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-f]+ g .* \\.text[ \t]+[0-9a-f]+[ \t]+(.*[ \t])?([^ \t]+)$")
      list(APPEND exports "${CMAKE_MATCH_2}")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "KIND must be pe or elf")
endif()

list(SORT exports)
if(NOT exports STREQUAL expected_exports)
  list(LENGTH exports count)
  list(SUBLIST exports 0 10 shown)
  list(APPEND failures
       "exports ${count} names [${shown}...], expected exactly [${expected_exports}]")
endif()
message(STATUS "exports: ${exports}")

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${MODULE}:\n  ${text}")
endif()
