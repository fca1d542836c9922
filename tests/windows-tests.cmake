# The Windows suite's Wine (or its absence), and checks on the program as
# shipped and as Visual Studio builds it.

# Wine takes its code pages, cmd.exe's echo among them, from the locale.
set(wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;LC_ALL=C.UTF-8")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(wine_skip "")
  # Creating a Wine prefix takes seconds; do it once, ahead of the tests.
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot.exe --init)
  set_tests_properties(wine_prefix PROPERTIES
    FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
  # Real Windows has the 16-bit system folder, which a search passes
  # through; Wine's prefix has none.
  add_test(NAME wine_system16 COMMAND ${CMAKE_COMMAND} -E make_directory
           ${CMAKE_BINARY_DIR}/wineprefix/drive_c/windows/system)
  set_tests_properties(wine_system16 PROPERTIES
    FIXTURES_SETUP wine DEPENDS wine_prefix)
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

# The zip made from this build, and the winget and Scoop manifests for it.
add_test(NAME packages COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-packages.sh
                               windows ${CMAKE_BINARY_DIR})
# The sources compiled the MSVC way, with clang-cl against Wine's headers.
add_test(NAME msvc_mode COMMAND ${PROJECT_SOURCE_DIR}/cmake/msvc-mode.sh
                                ${CMAKE_BINARY_DIR}/msvc)
