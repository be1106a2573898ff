# TOVIX_SANITIZE=ON builds everything with AddressSanitizer and UndefinedBehaviorSanitizer.
option(TOVIX_SANITIZE "Build with ASan and UBSan" OFF)
if(TOVIX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
# The fuzz build instruments everything the same way, with libFuzzer's coverage on top.
include(${CMAKE_CURRENT_LIST_DIR}/Fuzzing.cmake)
