# The 7z reader's sources, for the host library and for the launcher's
# mingw-w64 cross build. Include this file, then either use the variables or
# call quillon_7z_add_sources(<target>).
#   QUILLON_7Z_SOURCES       absolute paths of every .c/.cpp the reader needs
#   QUILLON_7Z_CXX_SOURCES   our C++ sources among them
#   QUILLON_7Z_C_SOURCES     the C sources (third-party: build them without our
#                            C++ warning flags)
#   QUILLON_7Z_HOT_CXX_SOURCES  the C++ sources decoding runs through
#   QUILLON_7Z_INCLUDE_DIRS  include directories (the formats library's come
#                            from formats/sources.cmake)
#   QUILLON_7Z_LZMA_DIR      the LZMA SDK's C folder
# The LZMA SDK's C sources (the LZMA decoder, CRC-32 and the CPU feature
# probe it uses) come from Debian's 7zip source package, which
# scripts/fetch-7zip-source.sh keeps in the cache; elsewhere point
# QUILLON_7Z_LZMA_DIR at the C folder of a 7-Zip 26 source tree.
set(_quillon_7z_dir ${CMAKE_CURRENT_LIST_DIR})
set(QUILLON_7Z_LZMA_DIR "" CACHE PATH "The C folder of the 7-Zip source (LzmaDec.c, 7zCrc.c)")
if(NOT QUILLON_7Z_LZMA_DIR)
    if(NOT CMAKE_HOST_UNIX)
        message(FATAL_ERROR "Set QUILLON_7Z_LZMA_DIR to the C folder of a 7-Zip 26 source tree")
    endif()
    execute_process(COMMAND ${_quillon_7z_dir}/../../scripts/fetch-7zip-source.sh
                    OUTPUT_VARIABLE _quillon_7z_fetched RESULT_VARIABLE _quillon_7z_rc)
    string(STRIP "${_quillon_7z_fetched}" _quillon_7z_fetched)
    string(REGEX REPLACE ".*\n" "" _quillon_7z_fetched "${_quillon_7z_fetched}")
    if(NOT _quillon_7z_rc EQUAL 0 OR NOT EXISTS "${_quillon_7z_fetched}/C/LzmaDec.c")
        message(FATAL_ERROR "scripts/fetch-7zip-source.sh found no 7-Zip source")
    endif()
    set(QUILLON_7Z_LZMA_DIR "${_quillon_7z_fetched}/C" CACHE PATH
        "The C folder of the 7-Zip source (LzmaDec.c, 7zCrc.c)" FORCE)
endif()
set(QUILLON_7Z_C_SOURCES ${QUILLON_7Z_LZMA_DIR}/LzmaDec.c ${QUILLON_7Z_LZMA_DIR}/7zCrc.c
                         ${QUILLON_7Z_LZMA_DIR}/7zCrcOpt.c ${QUILLON_7Z_LZMA_DIR}/CpuArch.c)
set(QUILLON_7Z_CXX_SOURCES
    ${_quillon_7z_dir}/sevenzip.cpp
    ${_quillon_7z_dir}/payload.cpp
    ${_quillon_7z_dir}/decoder.cpp
    ${_quillon_7z_dir}/delivery.cpp
    ${_quillon_7z_dir}/filters.cpp
    ${_quillon_7z_dir}/names.cpp
    ${_quillon_7z_dir}/crc32.cpp)
set(QUILLON_7Z_SOURCES ${QUILLON_7Z_CXX_SOURCES} ${QUILLON_7Z_C_SOURCES})
# Where the time goes when extracting: size-optimised builds (the module)
# still build these for speed.
set(QUILLON_7Z_HOT_CXX_SOURCES ${_quillon_7z_dir}/decoder.cpp ${_quillon_7z_dir}/crc32.cpp
                               ${_quillon_7z_dir}/delivery.cpp)
set(QUILLON_7Z_INCLUDE_DIRS ${_quillon_7z_dir} ${QUILLON_7Z_LZMA_DIR})

# Adds the reader to <target>. The C sources go into an object library of
# their own so the target's C++ warning flags never reach them.
function(quillon_7z_add_sources target)
    add_library(${target}_lzmadec OBJECT ${QUILLON_7Z_C_SOURCES})
    target_include_directories(${target}_lzmadec PRIVATE ${QUILLON_7Z_LZMA_DIR})
    # -O2 as the 7-Zip source's own makefile builds it (-O3 decoded no faster).
    target_compile_options(${target}_lzmadec PRIVATE $<$<NOT:$<CONFIG:Debug>>:-O2>)
    target_sources(${target} PRIVATE ${QUILLON_7Z_CXX_SOURCES} $<TARGET_OBJECTS:${target}_lzmadec>)
    target_include_directories(${target} PRIVATE ${QUILLON_7Z_INCLUDE_DIRS})
endfunction()
