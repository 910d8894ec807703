# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The posix thread model variant of the compiler is used so that std::thread and the std::mutex
# family work; libgcc, libstdc++ and winpthread are linked statically so the executables run
# (under Wine, or on Windows) without any DLL from the toolchain beside them.
#   cmake -S tests/windows -B build/windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(corvanel_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${corvanel_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${corvanel_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${corvanel_mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${corvanel_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything from the toolchain static (libgcc, libstdc++, winpthread); the system DLLs are still
# reached through their import libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test executables through Wine when it is there.
find_program(CORVANEL_WINE wine)
if(CORVANEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANEL_WINE})
endif()
