# Cross-builds the Windows programs (64-bit) on Debian with mingw-w64: the posix-thread
# compilers (the win32-thread ones have no std::thread in GCC 12), a static runtime so that the
# programs need nothing beside them, and wine to run what the build and the tests run.
#   cmake --preset windows    (see CMakePresets.json; tools/windows-deps.sh builds the libraries)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

# The libraries built for Windows (tools/windows-deps.sh) and the compiler's own.
if(NOT ZK_WINDOWS_DEPS)
  if(DEFINED ENV{XDG_CACHE_HOME})
    set(ZK_WINDOWS_DEPS "$ENV{XDG_CACHE_HOME}/zkfileexport/windows/prefix")
  else()
    set(ZK_WINDOWS_DEPS "$ENV{HOME}/.cache/zkfileexport/windows/prefix")
  endif()
endif()
set(ZK_WINDOWS_DEPS "${ZK_WINDOWS_DEPS}" CACHE PATH "Libraries built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${triplet} ${ZK_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
# GCC 12 warns, wrongly, of overlapping copies inside std::string's operator+ (GCC bug 105329)
# and of short strings used uninitialised when it inlines them, which the mingw-w64 build does
# where the Linux build doesn't; the Linux build, with the same code, keeps both warnings.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict -Wno-maybe-uninitialized")
