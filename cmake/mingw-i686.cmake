# Cross build for 32-bit Windows with Debian's mingw-w64 (posix thread model,
# which gives std::thread, std::mutex and std::shared_mutex).
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZW_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZW_MINGW_PREFIX}-windres)
set(CMAKE_MC_COMPILER ${ZW_MINGW_PREFIX}-windmc)
set(CMAKE_OBJDUMP ${ZW_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run where no mingw runtime is installed: link its C++ and gcc
# runtimes (and winpthread) in statically, so each .exe and .dll stands alone.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Tests run under Wine.
find_program(ZW_WINE wine)
if(ZW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZW_WINE})
endif()
