# The Windows suite cross-built: unit tests under Wine and checks on the
# program file; the end-to-end suite is registered beside it.

# Wine turns Unix arguments into Windows ones by the locale's character set.
set(wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LC_ALL=C.UTF-8")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(wine_skip "")
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
else()
  # Skipped with the reason, not run and failed.
  set(wine_skip sh -c "echo 'Wine is not installed: skipped' && exit 77")
  message(WARNING "Wine is not installed: the Windows tests are skipped")
  add_test(NAME unit_tests COMMAND ${wine_skip})
  set_tests_properties(unit_tests PROPERTIES SKIP_RETURN_CODE 77)
endif()

add_test(NAME windows_binary
  COMMAND ${CMAKE_COMMAND}
    -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -DWINDRES=${CMAKE_RC_COMPILER}
    -DVERSION=${PROJECT_VERSION} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DPROGRAM=$<TARGET_FILE:tamsor> -DCORE=$<TARGET_FILE:tamsor_core>
    -P ${PROJECT_SOURCE_DIR}/cmake/check-windows-binary.cmake)
