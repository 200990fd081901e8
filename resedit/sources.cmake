# The resource-editing operations of Worker (Qt Core and Gui): the icon check,
# icon extraction and replacement, version resources. They define Worker's
# members, so engine/CMakeLists.txt builds them into quillon_core; the platform
# layer under them is quillon_resedit_platform (CMakeLists.txt here).
#   QUILLON_RESEDIT_DIR        this folder (its headers are included from here)
#   QUILLON_RESEDIT_SOURCES    the operations' sources
set(QUILLON_RESEDIT_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUILLON_RESEDIT_SOURCES
    ${QUILLON_RESEDIT_DIR}/icovalidate.cpp
    ${QUILLON_RESEDIT_DIR}/iconextract.cpp
    ${QUILLON_RESEDIT_DIR}/iconreplace.cpp
    ${QUILLON_RESEDIT_DIR}/versionwrite.cpp
    ${QUILLON_RESEDIT_DIR}/versioninfo.h ${QUILLON_RESEDIT_DIR}/versioninfo.cpp
    ${QUILLON_RESEDIT_DIR}/nativepath.h)
