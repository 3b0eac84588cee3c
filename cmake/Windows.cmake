# The Windows executable, cross-built with mingw-w64 as a build of its own
# inside this one, so that this build's tests can run it under Wine.
# Sets ID3V23FIX_WINDOWS_DIR to where it lands; leaves it unset when
# there is no cross-compiler, and the Windows tests then skip.

if(NOT ID3V23FIX_WINDOWS)
  return()
endif()
find_program(ID3V23FIX_MINGW_CXX NAMES i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++)
if(NOT ID3V23FIX_MINGW_CXX)
  message(WARNING "No mingw-w64 (i686-w64-mingw32-g++), so no Windows build: run tests/install-deps.sh")
  return()
endif()

include(ExternalProject)
set(ID3V23FIX_WINDOWS_DIR ${PROJECT_BINARY_DIR}/windows)
ExternalProject_Add(windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ID3V23FIX_WINDOWS_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DID3V23FIX_STATIC=ON
    -DID3V23FIX_WARNINGS_AS_ERRORS=${ID3V23FIX_WARNINGS_AS_ERRORS}
    -DID3V23FIX_TESTS=${ID3V23FIX_TESTS}
  INSTALL_COMMAND ""
  # Its own build knows what is out of date; always ask it.
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ID3V23FIX_WINDOWS_DIR}/id3v23fix.exe ${ID3V23FIX_WINDOWS_DIR}/tests/launch.exe
  USES_TERMINAL_BUILD ON)
