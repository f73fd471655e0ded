# Cross build of the Windows program with MinGW-w64 on Linux.
#
# The -posix compiler variant is the one whose C++ library has std::thread and
# std::mutex; the default (win32 thread model) has neither in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSEL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TESSEL_MINGW_PREFIX}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${TESSEL_MINGW_PREFIX}-ranlib CACHE FILEPATH "Archive indexer")

set(CMAKE_FIND_ROOT_PATH /usr/${TESSEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C++ runtime and winpthread are linked in, so the
# program needs no DLL beyond those every Windows has. Nothing that changes from one
# build to the next (time stamps, build paths) goes into the bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -Wl,--nxcompat,--dynamicbase,--high-entropy-va,--no-insert-timestamp")
# __USE_MINGW_ANSI_STDIO: C99 printf for %zu and %llu, which msvcrt's own printf does
# not know. _WIN32_WINNT 0x0601: Windows 7 and later (CancelSynchronousIo).
set(TESSEL_MINGW_COMMON_FLAGS
    "-ffile-prefix-map=${CMAKE_CURRENT_LIST_DIR}/..=. -D__USE_MINGW_ANSI_STDIO=1 -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601")
set(CMAKE_C_FLAGS_INIT "${TESSEL_MINGW_COMMON_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TESSEL_MINGW_COMMON_FLAGS}")
