# cmake -DOUT=<file> -DWORK=<dir> -P fetch-7za.cmake
#
# Puts the Windows x64 7-Zip console program of the npm package 7zip-bin 5.2.0
# at OUT. Nothing is committed: the package is fetched with npm into the build
# tree once. When npm or the registry is not available the file stays missing
# and the archiver tests report themselves skipped.
if(EXISTS "${OUT}")
    return()
endif()
find_program(NPM npm)
if(NOT NPM)
    message(WARNING "npm not found: the Windows archiver tests will be skipped")
    return()
endif()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${NPM}" pack --silent 7zip-bin@5.2.0
                WORKING_DIRECTORY "${WORK}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE tarball ERROR_VARIABLE err
                TIMEOUT 300)
string(STRIP "${tarball}" tarball)
if(NOT rc EQUAL 0 OR NOT EXISTS "${WORK}/${tarball}")
    message(WARNING "npm pack 7zip-bin@5.2.0 failed (${rc}): ${err}")
    return()
endif()
file(ARCHIVE_EXTRACT INPUT "${WORK}/${tarball}" DESTINATION "${WORK}"
     PATTERNS package/win/x64/7za.exe)
if(NOT EXISTS "${WORK}/package/win/x64/7za.exe")
    message(WARNING "7zip-bin@5.2.0 holds no win/x64/7za.exe")
    return()
endif()
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(COPY_FILE "${WORK}/package/win/x64/7za.exe" "${OUT}")
