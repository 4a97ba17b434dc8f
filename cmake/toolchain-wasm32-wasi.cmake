# Cross build for WebAssembly (wasm32) with Debian's clang 14, wasm-ld and
# wasi-libc: the core and its tests, which CTest runs under Node's WASI, and
# the module of the web front end. No threads, no exceptions.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_ASM_COMPILER clang-14)
set(CMAKE_ASM_COMPILER_TARGET wasm32-wasi)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
# No exceptions anywhere: GoogleTest compiles itself with -fexceptions, which
# nothing here can unwind, so its throws and those of the C++ library are
# turned off by their macros. Nor its output capture, which needs dup and
# mkstemp (not in WASI).
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -D_LIBCPP_NO_EXCEPTIONS= -DGTEST_HAS_EXCEPTIONS=0 -DGTEST_HAS_STREAM_REDIRECTION=0")
set(CMAKE_CROSSCOMPILING_EMULATOR node ${CMAKE_CURRENT_LIST_DIR}/run-wasi.mjs)
