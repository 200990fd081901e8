# Defines the target quillon_sfx_module_exe, the Windows self-extractor module.
# Expects QUILLON_SOURCE_DIR, QSFX_ICON_FILE, QSFX_VERSION, QSFX_OUTPUT_NAME.
set(qsfx_dir ${QUILLON_SOURCE_DIR}/sfx)

# The formats library and the 7z reader: QUILLON_FORMATS_SOURCES and
# _INCLUDE_DIR, QUILLON_7Z_SOURCES, _C_SOURCES and _INCLUDE_DIRS.
include(${QUILLON_SOURCE_DIR}/formats/sources.cmake)
include(${qsfx_dir}/sevenzip/sources.cmake)
# The module is built for size; the LZMA core and the code around it for speed.
set_source_files_properties(${QUILLON_7Z_C_SOURCES} PROPERTIES COMPILE_OPTIONS "-w;-O2")
set_source_files_properties(${QUILLON_7Z_HOT_CXX_SOURCES} PROPERTIES COMPILE_OPTIONS -O2)

string(REPLACE "." "," QSFX_VERSION_COMMAS "${QSFX_VERSION}")
set(QSFX_MANIFEST_FILE ${qsfx_dir}/module.manifest)
configure_file(${qsfx_dir}/module.rc.in ${CMAKE_CURRENT_BINARY_DIR}/module.rc @ONLY)

add_executable(quillon_sfx_module_exe WIN32
    ${qsfx_dir}/launcher.h ${qsfx_dir}/launcher_common.cpp ${qsfx_dir}/launcher_win.h
    ${qsfx_dir}/launcher_win.cpp ${qsfx_dir}/sweep_win.cpp ${qsfx_dir}/session_win.cpp
    ${qsfx_dir}/main_win.cpp
    ${QUILLON_FORMATS_SOURCES} ${QUILLON_7Z_SOURCES} ${CMAKE_CURRENT_BINARY_DIR}/module.rc)
set_target_properties(quillon_sfx_module_exe PROPERTIES
    OUTPUT_NAME ${QSFX_OUTPUT_NAME}
    CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/module.rc PROPERTIES
    OBJECT_DEPENDS "${QSFX_ICON_FILE};${QSFX_MANIFEST_FILE}")
target_include_directories(quillon_sfx_module_exe PRIVATE ${qsfx_dir} ${qsfx_dir}/sevenzip
                           ${QUILLON_FORMATS_INCLUDE_DIR} ${QUILLON_7Z_INCLUDE_DIRS})
target_compile_definitions(quillon_sfx_module_exe PRIVATE UNICODE _UNICODE)
if(MINGW)
    target_compile_options(quillon_sfx_module_exe PRIVATE
        $<$<COMPILE_LANGUAGE:C,CXX>:-Os -ffunction-sections -fdata-sections -Wall -Wextra>
        $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
    if(QUILLON_WERROR)
        target_compile_options(quillon_sfx_module_exe PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
    endif()
    target_link_options(quillon_sfx_module_exe PRIVATE -municode -mwindows -static -static-libgcc
                        -static-libstdc++ -s -Wl,--gc-sections)
endif()
if(MSVC)
    # module.rc carries the manifest.
    target_link_options(quillon_sfx_module_exe PRIVATE /MANIFEST:NO)
endif()
target_link_libraries(quillon_sfx_module_exe PRIVATE advapi32 user32 kernel32)
