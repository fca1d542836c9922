# Cross-builds the Windows program with Debian's mingw-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAMSOR_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${TAMSOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMSOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMSOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMSOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is static, so that none needs the toolchain's runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# CTest runs the Windows test programs under Wine.
find_program(TAMSOR_WINE NAMES wine wine64)
if(TAMSOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAMSOR_WINE})
endif()
