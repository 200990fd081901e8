# qsfx_payload_fallback(<var> <sources...>): <var> becomes sfx/payload_fallback.cpp
# when none of the reader's sources defines locatePayload, else empty.
get_filename_component(QSFX_PAYLOAD_FALLBACK_FILE ${CMAKE_CURRENT_LIST_DIR}/../payload_fallback.cpp
                       ABSOLUTE)
function(qsfx_payload_fallback var)
    set(result ${QSFX_PAYLOAD_FALLBACK_FILE})
    foreach(source IN LISTS ARGN)
        if(source MATCHES "\\.cpp$" AND EXISTS ${source})
            file(READ ${source} content)
            if(content MATCHES "Error locatePayload\\(")
                set(result "")
            endif()
        endif()
    endforeach()
    set(${var} ${result} PARENT_SCOPE)
endfunction()
