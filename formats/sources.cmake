# The formats library's sources, for the host library and for the module's
# mingw-w64 cross build (sfx/cross/module.cmake).
#   QUILLON_FORMATS_SOURCES      absolute paths of the .cpp files for this platform
#   QUILLON_FORMATS_INCLUDE_DIR  the folder to include its headers from
set(QUILLON_FORMATS_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUILLON_FORMATS_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/utf.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ico.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dib.cpp
    ${CMAKE_CURRENT_LIST_DIR}/imageend.cpp)
if(WIN32)
    list(APPEND QUILLON_FORMATS_SOURCES ${CMAKE_CURRENT_LIST_DIR}/fileinput_win.cpp)
else()
    list(APPEND QUILLON_FORMATS_SOURCES ${CMAKE_CURRENT_LIST_DIR}/fileinput_posix.cpp)
endif()
