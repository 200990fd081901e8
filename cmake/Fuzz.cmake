# libFuzzer targets, built only with -DQUILLON_FUZZ=ON and clang.
# quillon_add_fuzzer(NAME SOURCES src... [LIBS lib...])
# Every fuzzer is recorded in ${CMAKE_BINARY_DIR}/fuzzers.txt as "name;path"
# so scripts/fuzz.sh can build and run them all.
option(QUILLON_FUZZ "Build libFuzzer targets (clang only)" OFF)
set(QUILLON_FUZZ_LIST "${CMAKE_BINARY_DIR}/fuzzers.txt")
if(QUILLON_FUZZ)
    file(WRITE "${QUILLON_FUZZ_LIST}" "")
    # Instrument the libraries the fuzzers link, not only the fuzzer sources.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

function(quillon_add_fuzzer name)
    if(NOT QUILLON_FUZZ)
        return()
    endif()
    cmake_parse_arguments(FZ "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${FZ_SOURCES})
    target_link_libraries(${name} PRIVATE quillon_options ${FZ_LIBS})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined
                                           -fno-omit-frame-pointer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    file(APPEND "${QUILLON_FUZZ_LIST}" "${name}\n")
endfunction()
