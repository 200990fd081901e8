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
# The LZMA SDK's C sources (LzmaDec.c with its headers): Debian's lzma-dev
# installs them in /usr/include/lzma; elsewhere point this at an SDK copy.
set(QUILLON_7Z_LZMA_DIR /usr/include/lzma CACHE PATH "Folder holding the LZMA SDK's LzmaDec.c")
set(QUILLON_7Z_C_SOURCES ${QUILLON_7Z_LZMA_DIR}/LzmaDec.c)
set(_quillon_7z_dir ${CMAKE_CURRENT_LIST_DIR})
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
    # The LZMA core runs about 6% fewer instructions at -O3 than at -O2.
    target_compile_options(${target}_lzmadec PRIVATE $<$<NOT:$<CONFIG:Debug>>:-O3>)
    target_sources(${target} PRIVATE ${QUILLON_7Z_CXX_SOURCES} $<TARGET_OBJECTS:${target}_lzmadec>)
    target_include_directories(${target} PRIVATE ${QUILLON_7Z_INCLUDE_DIRS})
endfunction()
