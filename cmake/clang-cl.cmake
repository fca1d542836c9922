# Builds the Windows program the MSVC way with clang-cl, on Linux, against
# the Windows and C runtime headers under TAMSOR_WINDOWS_HEADERS (Wine's,
# as Debian's libwine-dev installs them: /usr/include/wine/wine). CMake takes
# clang-cl for MSVC, so this is the branch Visual Studio builds take. There
# is no static C runtime or wsetargv.obj to link against here: only
# compiling is meant.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

# Debian installs the LLVM tools under versioned names (clang-cl-14,
# lld-link-14, ...); the plain names come only with its unversioned packages.
function(tamsor_find_llvm var tool)
  find_program(${var} NAMES ${tool} ${tool}-16 ${tool}-15 ${tool}-14 REQUIRED)
endfunction()
tamsor_find_llvm(TAMSOR_CLANG_CL clang-cl)
set(CMAKE_C_COMPILER ${TAMSOR_CLANG_CL})
set(CMAKE_CXX_COMPILER ${TAMSOR_CLANG_CL})
tamsor_find_llvm(CMAKE_LINKER lld-link)
tamsor_find_llvm(CMAKE_AR llvm-lib)
tamsor_find_llvm(CMAKE_RC_COMPILER llvm-rc)
tamsor_find_llvm(CMAKE_MT llvm-mt)
# The compiler checks cannot link a program.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(TAMSOR_WINDOWS_HEADERS "" CACHE PATH
    "Folder holding Wine's windows/ and msvcrt/ header folders")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAMSOR_WINDOWS_HEADERS)
if(NOT IS_DIRECTORY "${TAMSOR_WINDOWS_HEADERS}/windows")
  message(FATAL_ERROR "TAMSOR_WINDOWS_HEADERS: no windows/ in "
                      "'${TAMSOR_WINDOWS_HEADERS}'")
endif()
# Only these headers, not the host's. Wine's winnt.h defines a function
# that clang knows as a builtin for x64; it gets another name. WCHAR is
# wchar_t, as in Microsoft's headers (Wine's take char16_t unless told that
# wchar_t has 16 bits, as it has here).
set(flags "/X -imsvc ${TAMSOR_WINDOWS_HEADERS}/msvcrt -imsvc ${TAMSOR_WINDOWS_HEADERS}/windows -D_InterlockedCompareExchange128=wine_InterlockedCompareExchange128 -DWINE_UNICODE_NATIVE")
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_RC_FLAGS_INIT "/I ${TAMSOR_WINDOWS_HEADERS}/windows /I ${TAMSOR_WINDOWS_HEADERS}/msvcrt")
