# quillon_add_bundle(NAME <object library>
#                    ENTRIES "<name in :/resources/>=<source file>" ...
#                    [DEPENDS <targets that produce the source files>...])
#
# Makes an OBJECT library whose Qt resources hold each source file under
# ":/resources/<name>". Linking it into an executable registers the files at
# start-up. The product bundle uses it with the real programs; tests use it
# with fakes (the bundle is the seam between the job and its outside programs).
function(quillon_add_bundle)
    cmake_parse_arguments(B "" "NAME" "ENTRIES;DEPENDS" ${ARGN})
    set(dir "${CMAKE_CURRENT_BINARY_DIR}/${B_NAME}_files")
    set(qrc "${CMAKE_CURRENT_BINARY_DIR}/${B_NAME}.qrc")
    set(qrc_text "<RCC>\n  <qresource prefix=\"/resources\">\n")
    set(copies)
    foreach(entry IN LISTS B_ENTRIES)
        string(FIND "${entry}" "=" eq)
        string(SUBSTRING "${entry}" 0 ${eq} alias)
        math(EXPR from "${eq} + 1")
        string(SUBSTRING "${entry}" ${from} -1 source)
        add_custom_command(OUTPUT "${dir}/${alias}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
            COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${dir}/${alias}"
            DEPENDS "${source}" ${B_DEPENDS}
            VERBATIM)
        list(APPEND copies "${dir}/${alias}")
        string(APPEND qrc_text "    <file alias=\"${alias}\">${B_NAME}_files/${alias}</file>\n")
    endforeach()
    string(APPEND qrc_text "  </qresource>\n</RCC>\n")
    file(CONFIGURE OUTPUT "${qrc}" CONTENT "${qrc_text}")
    set_source_files_properties(${copies} PROPERTIES GENERATED TRUE)
    qt6_add_resources(rcc_sources "${qrc}")
    add_library(${B_NAME} OBJECT ${rcc_sources})
    target_link_libraries(${B_NAME} PRIVATE Qt6::Core)
endfunction()
