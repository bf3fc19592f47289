# Shared compile settings for every target of the project.
add_library(moravel_options INTERFACE)
target_compile_options(moravel_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough -Werror=return-type)

if(MORAVEL_SANITIZE)
    # The library's own bounds checks too: a span or vector indexed past its end
    # stops the test run, whatever memory lies behind it.
    target_compile_options(moravel_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
        -D_GLIBCXX_ASSERTIONS)
    target_link_options(moravel_options INTERFACE -fsanitize=address,undefined)
endif()

if(MORAVEL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "MORAVEL_FUZZ needs clang (CXX=clang++): libFuzzer comes with it")
    endif()
    # Every library is instrumented for the fuzzer's coverage and checked by the
    # sanitizers and the library's bounds checks; only the fuzz programs link the
    # fuzzer's main (fuzz/CMakeLists.txt).
    target_compile_options(moravel_options INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
        -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS)
    target_link_options(moravel_options INTERFACE -fsanitize=address,undefined)
endif()
