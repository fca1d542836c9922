# The Windows suite: unit tests under Wine, checks on the program file, and
# the end-to-end suite (a native program, built in a native tree and named
# by TAMSOR_E2E_RUNNER) driving tamsor.exe under Wine.
set(TAMSOR_E2E_RUNNER "" CACHE FILEPATH
    "The native e2e_windows_tests program that drives tamsor.exe under Wine")

# Wine turns Unix arguments into Windows ones by the locale's character set.
set(wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LC_ALL=C.UTF-8")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  # Creating a Wine prefix takes seconds; do it once, ahead of the tests.
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot.exe --init)
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
endif()

add_test(NAME unit_tests COMMAND unit_tests)
set_tests_properties(unit_tests PROPERTIES
  FIXTURES_REQUIRED wine
  # Wine does not account a child's CPU time.
  ENVIRONMENT "${wine_env};TAMSOR_NO_CPU_ACCOUNTING=1")

add_test(NAME windows_binary
  COMMAND ${CMAKE_COMMAND}
    -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -DWINDRES=${CMAKE_RC_COMPILER}
    -DVERSION=${PROJECT_VERSION} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DPROGRAM=$<TARGET_FILE:tamsor> -DCORE=$<TARGET_FILE:tamsor_core>
    -P ${CMAKE_CURRENT_SOURCE_DIR}/check-windows-binary.cmake)

if(TAMSOR_E2E_RUNNER)
  execute_process(COMMAND ${TAMSOR_E2E_RUNNER} --gtest_list_tests
                  OUTPUT_VARIABLE listing RESULT_VARIABLE listed)
  if(NOT listed EQUAL 0)
    message(FATAL_ERROR "cannot list the tests of ${TAMSOR_E2E_RUNNER}")
  endif()
  string(REGEX REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z0-9_]+)\\.$")
      set(suite ${CMAKE_MATCH_1})
    elseif(line MATCHES "^  ([A-Za-z0-9_]+)")
      set(name ${suite}.${CMAKE_MATCH_1})
      add_test(NAME wine.${name}
               COMMAND ${TAMSOR_E2E_RUNNER} --gtest_filter=${name})
      set_tests_properties(wine.${name} PROPERTIES
        FIXTURES_REQUIRED wine
        SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
        ENVIRONMENT "${wine_env};TAMSOR_WINDOWS=1;TAMSOR_LAUNCHER=${CMAKE_CROSSCOMPILING_EMULATOR};TAMSOR_EXE=$<TARGET_FILE:tamsor>;TAMSOR_HELPER=$<TARGET_FILE:tamsor_helper>")
    endif()
  endforeach()
endif()
