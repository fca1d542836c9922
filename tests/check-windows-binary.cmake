# Checks tamsor.exe as shipped: a 64-bit program that needs no DLLs beyond
# the system's, and whose report is formatted by mingw-w64's exact printf
# rather than whichever msvcrt.dll the machine has.
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
