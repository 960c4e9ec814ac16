# The native tree built a second time as 32-bit x86 code (gcc -m32, Debian's
# g++-multilib and lib32z1-dev), so that the platform-free code's size
# arithmetic is tested with a 32-bit size_t on every machine, as the 32-bit
# Windows build runs it.
#   TW_I386_EMULATOR   the program that runs i386 code where the kernel does
#                      not (qemu-i386); empty where it does, and the tests
#                      run directly
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
# The fuzz targets are built by clang outside CMake's own rules.
set(TW_NATIVE_ARCH_FLAGS -m32)
set(ZLIB_LIBRARY /usr/lib32/libz.so CACHE FILEPATH "32-bit zlib")
set(ZLIB_INCLUDE_DIR /usr/include CACHE PATH "zlib headers")
set(TW_I386_EMULATOR "" CACHE STRING "runs i386 programs where the kernel cannot")
if(TW_I386_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TW_I386_EMULATOR})
endif()
