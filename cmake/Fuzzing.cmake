# TOVIX_FUZZ=ON (clang only) builds the libFuzzer targets in fuzz/. Every object carries the fuzzer's
# coverage hooks and ASan/UBSan, so the program and port code under test is what the fuzzer steers by.
option(TOVIX_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(TOVIX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "TOVIX_FUZZ needs clang (libFuzzer); configure with the fuzz preset")
    endif()
    if(WIN32)
        message(FATAL_ERROR "TOVIX_FUZZ runs the programs on the port, not on Windows")
    endif()
    # -O1: unoptimised ASan code would cut the executions per second several times over.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer -O1)
    add_link_options(-fsanitize=address,undefined)
    # Comparison tracing calls into the fuzzer on every compare: in the port's per-pixel loops that
    # would cost most of the run for nothing the fuzzer can use.
    cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL
                   target_compile_options winport PRIVATE -fno-sanitize-coverage=trace-cmp)
    # Linked targets are looked up when the build is generated, so this may come before the program's.
    add_subdirectory(${CMAKE_SOURCE_DIR}/fuzz ${CMAKE_BINARY_DIR}/fuzz)
endif()
