# Checks tamsor.exe as shipped: a 64-bit program that needs no DLLs beyond
# the system's, whose report is formatted by mingw-w64's exact printf
# rather than whichever msvcrt.dll the machine has, and whose resources,
# read back from the file, hold the project's version, LICENSE's copyright
# line and a manifest that asks for the UTF-8 code page.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read ${PROGRAM}")
endif()
if(NOT headers MATCHES "file format pei-x86-64")
  message(FATAL_ERROR "${PROGRAM} is not a 64-bit Windows program")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
list(SORT dlls)
if(NOT dlls STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  message(FATAL_ERROR "unexpected imports: ${dlls}")
endif()

execute_process(COMMAND ${NM} ${CORE} OUTPUT_VARIABLE symbols)
if(NOT symbols MATCHES " U __mingw_vfprintf")
  message(FATAL_ERROR "the report is not formatted by mingw-w64's printf")
endif()
if(symbols MATCHES " U (__imp_)?(v?f?printf)\n")
  message(FATAL_ERROR "the core calls msvcrt's ${CMAKE_MATCH_2}")
endif()
message(STATUS "${PROGRAM}: ${dlls}; printf from mingw-w64")

execute_process(COMMAND ${WINDRES} -i ${PROGRAM} -O rc OUTPUT_VARIABLE resources
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read the resources of ${PROGRAM}")
endif()
file(STRINGS ${LICENSE} copyright REGEX "^Copyright " LIMIT_COUNT 1)
foreach(expected IN ITEMS "FileVersion|${VERSION}" "ProductVersion|${VERSION}"
                          "OriginalFilename|tamsor.exe" "ProductName|tamsor"
                          "LegalCopyright|${copyright}")
  string(REPLACE "|" ";" pair "${expected}")
  list(GET pair 0 key)
  list(GET pair 1 value)
  string(REGEX MATCH "VALUE \"${key}\", \"([^\"]*)\"" found "${resources}")
  if(NOT CMAKE_MATCH_1 STREQUAL value)
    message(FATAL_ERROR "${key} is \"${CMAKE_MATCH_1}\", not \"${value}\"")
  endif()
  message(STATUS "${key}: ${CMAKE_MATCH_1}")
endforeach()
string(REGEX MATCH "VALUE \"FileDescription\", \"([^\"]+)\"" found "${resources}")
if(NOT found)
  message(FATAL_ERROR "no FileDescription")
endif()
message(STATUS "FileDescription: ${CMAKE_MATCH_1}")
foreach(setting IN ITEMS
    ">UTF-8</activeCodePage>"
    "supportedOS Id=\"\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"\"")
  string(FIND "${resources}" "${setting}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the manifest lacks ${setting}")
  endif()
endforeach()
message(STATUS "manifest: UTF-8 active code page; supports Windows 10 and 11")
