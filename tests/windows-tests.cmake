# The Windows suite cross-built: unit tests and the end-to-end suite under
# Wine, and checks on the program file.

# Wine takes its code pages, cmd.exe's echo among them, from the locale.
set(wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LC_ALL=C.UTF-8")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  # Creating a Wine prefix takes seconds; do it once, ahead of the tests.
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot.exe --init)
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
  add_test(NAME unit_tests COMMAND unit_tests)
  set_tests_properties(unit_tests PROPERTIES
    FIXTURES_REQUIRED wine
    # Wine does not account a child's CPU time.
    ENVIRONMENT "${wine_env};TAMSOR_NO_CPU_ACCOUNTING=1")
  # Listed from the sources, since a program's own listing under Wine at
  # build time is not reliable. Each test is a Wine process of its own, so
  # that each counts, and fails, on its own.
  gtest_add_tests(TARGET e2e_tests TEST_LIST e2e)
  set_tests_properties(${e2e} PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${wine_env}"
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
else()
  # Skipped with the reason, not run and failed.
  message(WARNING "Wine is not installed: the Windows tests are skipped")
  foreach(suite unit_tests e2e_tests)
    add_test(NAME ${suite}
             COMMAND sh -c "echo 'Wine is not installed: skipped' && exit 77")
    set_tests_properties(${suite} PROPERTIES SKIP_RETURN_CODE 77)
  endforeach()
endif()

add_test(NAME windows_binary
  COMMAND ${CMAKE_COMMAND}
    -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -DWINDRES=${CMAKE_RC_COMPILER}
    -DVERSION=${PROJECT_VERSION} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DPROGRAM=$<TARGET_FILE:tamsor> -DCORE=$<TARGET_FILE:tamsor_core>
    -P ${PROJECT_SOURCE_DIR}/cmake/check-windows-binary.cmake)
