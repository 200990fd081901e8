# The resource-editing operations of Worker (Qt Core and Gui): the icon check,
# icon extraction and replacement, version resources, and the platform layer
# under them (Win32 calls on Windows, the PE library elsewhere). They define
# Worker's members, so engine/CMakeLists.txt builds them into quillon_core.
#   QUILLON_RESEDIT_DIR        this folder (its headers are included from here)
#   QUILLON_RESEDIT_SOURCES    sources for this platform
#   QUILLON_RESEDIT_SYSTEM_LIBS system libraries they call
set(QUILLON_RESEDIT_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUILLON_RESEDIT_SOURCES
    ${QUILLON_RESEDIT_DIR}/icovalidate.cpp
    ${QUILLON_RESEDIT_DIR}/iconextract.cpp
    ${QUILLON_RESEDIT_DIR}/iconreplace.cpp
    ${QUILLON_RESEDIT_DIR}/versionwrite.cpp
    ${QUILLON_RESEDIT_DIR}/versioninfo.h ${QUILLON_RESEDIT_DIR}/versioninfo.cpp
    ${QUILLON_RESEDIT_DIR}/platform_read.h ${QUILLON_RESEDIT_DIR}/platform_write.h
    ${QUILLON_RESEDIT_DIR}/nativepath.h)
set(QUILLON_RESEDIT_SYSTEM_LIBS)
if(WIN32)
    list(APPEND QUILLON_RESEDIT_SOURCES ${QUILLON_RESEDIT_DIR}/platform_read_win32.cpp
                                        ${QUILLON_RESEDIT_DIR}/platform_write_win32.cpp)
    set(QUILLON_RESEDIT_SYSTEM_LIBS version shell32 gdi32 user32)
else()
    list(APPEND QUILLON_RESEDIT_SOURCES ${QUILLON_RESEDIT_DIR}/platform_read_portable.cpp
                                        ${QUILLON_RESEDIT_DIR}/platform_write_portable.cpp)
endif()
