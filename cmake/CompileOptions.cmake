# Shared compile options. Every target links quillon_options; code that parses
# binary formats links quillon_strict as well.
add_library(quillon_options INTERFACE)
target_compile_features(quillon_options INTERFACE cxx_std_17)
if(MSVC)
    target_compile_options(quillon_options INTERFACE /W4 /permissive- /utf-8)
else()
    target_compile_options(quillon_options INTERFACE -Wall -Wextra -Wpedantic)
endif()

add_library(quillon_strict INTERFACE)
if(NOT MSVC)
    target_compile_options(quillon_strict INTERFACE -Wshadow -Wsign-conversion -Wold-style-cast
                                                    -Wconversion)
endif()

option(QUILLON_WERROR "Treat warnings as errors" OFF)
if(QUILLON_WERROR AND NOT MSVC)
    target_compile_options(quillon_options INTERFACE -Werror)
endif()

# Sanitizer build of the tests: -DQUILLON_SANITIZE=ON (AddressSanitizer + UBSan).
option(QUILLON_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUILLON_SANITIZE AND NOT MSVC)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
# ThreadSanitizer build of the threaded reader and the host launcher:
# -DQUILLON_TSAN=ON.
option(QUILLON_TSAN "Build with ThreadSanitizer" OFF)
if(QUILLON_TSAN AND NOT MSVC)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
