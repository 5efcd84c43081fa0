# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KELVARION_MINGW i686-w64-mingw32)

set(CMAKE_C_COMPILER ${KELVARION_MINGW}-gcc)
set(CMAKE_CXX_COMPILER ${KELVARION_MINGW}-g++)
set(CMAKE_RC_COMPILER ${KELVARION_MINGW}-windres)

# Every double operation in SSE2, rounded once to 64 bits as on x86-64, never in the x87's
# 80-bit registers (where a result can be rounded twice): the kernel's results are the same on
# every build. It also lets the floating-point status be read from the SSE register.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_FIND_ROOT_PATH /usr/${KELVARION_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
