# Shared compile settings for every target of the project.
add_library(moravel_options INTERFACE)
target_compile_options(moravel_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough -Werror=return-type)

if(MORAVEL_SANITIZE)
    target_compile_options(moravel_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(moravel_options INTERFACE -fsanitize=address,undefined)
endif()
