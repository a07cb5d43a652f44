# Cross build of the Qt-free libraries and their tests for 64-bit Windows with Debian's MinGW-w64
# (POSIX thread model, msvcrt runtime); the tests run under Wine. It shows the code on Windows, but
# it is not the programs' compiler: Qt's MinGW kits bring a newer MinGW with the UCRT runtime.
#
# QX_WINDOWS_DEPS names the folder that cmake/windows-deps.sh fills: the staging include folder
# and the target's LevelDB and GoogleTest (default: "deps" in the build folder).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QX_MINGW_TRIPLE}-windres)

if(NOT QX_WINDOWS_DEPS)
  set(QX_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps")
endif()
set(QX_WINDOWS_DEPS "${QX_WINDOWS_DEPS}" CACHE PATH "Target dependencies made by cmake/windows-deps.sh")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QX_WINDOWS_DEPS)

# Headers and libraries come from the MinGW sysroot and the dependency folder only: the host's
# /usr/include would shadow MinGW's C headers with glibc's.
set(CMAKE_FIND_ROOT_PATH /usr/${QX_MINGW_TRIPLE} "${QX_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(Boost_NO_BOOST_CMAKE ON)

# Static C, C++ and thread runtimes: the executables need no MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs the tests in its own prefix inside the build folder, without a display. Without the
# preloader (a package of its own), Wine now and then fails to start when address randomisation
# puts its heap where Windows' shared user data goes (0x7ffe0000): it runs without randomisation.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" WINEDEBUG=-all DISPLAY=
    setarch x86_64 --addr-no-randomize /usr/lib/wine/wine64)
