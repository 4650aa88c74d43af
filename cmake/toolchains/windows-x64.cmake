# Cross build for Windows x64 with Zig 0.11.0 (installed by scripts/setup.sh).
# Test programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(PTSA_TRIPLE x86_64-w64-mingw32)
set(PTSA_ZIG_TARGET x86_64-windows-gnu)
set(PTSA_DLLTOOL_MACHINE i386:x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-windows.cmake)

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine64-run.sh)
endif()
