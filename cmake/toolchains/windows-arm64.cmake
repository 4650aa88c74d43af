# Cross build for Windows on ARM64 with Zig 0.11.0 (installed by
# scripts/setup.sh). Nothing runs here by default; pass
# -DCMAKE_CROSSCOMPILING_EMULATOR=<runner> to run the test programs.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(PTSA_TRIPLE aarch64-w64-mingw32)
set(PTSA_ZIG_TARGET aarch64-windows-gnu)
set(PTSA_DLLTOOL_MACHINE arm64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-windows.cmake)
