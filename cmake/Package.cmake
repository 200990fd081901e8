# The Linux release: manual pages beside the programs, and a Debian package
# made by CPack from the same install rules (scripts/package.sh).
if(WIN32)
    return()
endif()

# Manual pages, compressed as Debian keeps them (gzip -n: no name or time
# inside, so the package stays reproducible).
find_program(QUILLON_GZIP gzip REQUIRED)
set(man_pages ${PROJECT_SOURCE_DIR}/tools/cli/quillon-cli.1
              ${PROJECT_SOURCE_DIR}/tools/unpack/quillon-unpack.1)
set(man_outputs)
foreach(page IN LISTS man_pages)
    get_filename_component(name ${page} NAME)
    set(out ${CMAKE_BINARY_DIR}/man/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${QUILLON_GZIP} -9 -n -c ${page} > ${out}
        DEPENDS ${page}
        VERBATIM)
    list(APPEND man_outputs ${out})
endforeach()
add_custom_target(quillon_man_pages ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${QUILLON_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR Vumo)
set(CPACK_PACKAGE_CONTACT "Vumo <quillon@morvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "turns a folder holding an application into one self-extracting Windows executable")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quillon packs a folder with the 7-Zip console archiver, gives a copy of its\n\
self-extractor module an icon and a version resource, and writes module,\n\
configuration block and archive into one Windows x86-64 executable that\n\
unpacks itself and starts the main program. The package holds the window\n\
(quillon), the command-line packer (quillon-cli) and quillon-unpack.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# The libraries the programs link, found by dpkg-shlibdeps, and what Qt loads
# at run time: the platform, ICO and SVG plugins, and the archiver.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6 (>= 6.4), libqt6svg6 (>= 6.4), 7zip")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-wqy-microhei")
set(CPACK_STRIP_FILES ON)
include(CPack)
