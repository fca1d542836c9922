# The Windows suite's Wine (or its absence), checks on the program file, and
# the end-to-end suite (a native program, built in a native tree and named
# by TAMSOR_E2E_RUNNER) driving tamsor.exe under Wine.
set(TAMSOR_E2E_RUNNER "" CACHE FILEPATH
    "The native e2e_windows_tests program that drives tamsor.exe under Wine")

# Wine turns Unix arguments into Windows ones by the locale's character set.
set(wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LC_ALL=C.UTF-8")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(wine_skip "")
  # Creating a Wine prefix takes seconds; do it once, ahead of the tests.
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot.exe --init)
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
else()
  # Skipped with the reason, not run and failed.
  set(wine_skip sh -c "echo 'Wine is not installed: skipped' && exit 77")
  message(WARNING "Wine is not installed: the Windows tests are skipped")
endif()

add_test(NAME windows_binary
  COMMAND ${CMAKE_COMMAND}
    -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -DWINDRES=${CMAKE_RC_COMPILER}
    -DVERSION=${PROJECT_VERSION} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DPROGRAM=$<TARGET_FILE:tamsor> -DCORE=$<TARGET_FILE:tamsor_core>
    -P ${PROJECT_SOURCE_DIR}/cmake/check-windows-binary.cmake)

if(TAMSOR_E2E_RUNNER)
  # Listed when ctest runs, not here: the runner is another tree's program.
  string(JOIN "\n" wine_e2e
    "set(runner [==[${TAMSOR_E2E_RUNNER}]==])"
    "set(environment [==[${wine_env};TAMSOR_WINDOWS=1;TAMSOR_LAUNCHER=${CMAKE_CROSSCOMPILING_EMULATOR};TAMSOR_EXE=$<TARGET_FILE:tamsor>;TAMSOR_HELPER=$<TARGET_FILE:tamsor_helper>;TAMSOR_ANSI_EXE=$<TARGET_FILE:tamsor_ansi>]==])"
    "set(skip [==[${wine_skip}]==])"
    "include([==[${CMAKE_CURRENT_SOURCE_DIR}/list-wine-e2e-tests.cmake]==])")
  file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/wine-e2e-tests.cmake
       CONTENT "${wine_e2e}\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
               ${CMAKE_CURRENT_BINARY_DIR}/wine-e2e-tests.cmake)
endif()
