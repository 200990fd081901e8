# The Windows program: the file name its version resource states
# ("Quillon.exe") and an install step that puts the Qt runtime beside it
# (windeployqt through Qt's deploy script), the ICO and SVG image plugins
# included. The icon group IDI_ICON1 and the version resource come from
# icons/quillon.rc.in. Does nothing on other platforms. A cross build from
# Linux has no windeployqt: scripts/deploy-windows.sh deploys there.
#
#   quillon_windows_app(<target>)
function(quillon_windows_app target)
    if(NOT WIN32)
        return()
    endif()
    set_target_properties(${target} PROPERTIES OUTPUT_NAME Quillon)
    if(CMAKE_CROSSCOMPILING)
        return()
    endif()
    qt_generate_deploy_app_script(TARGET ${target} OUTPUT_SCRIPT deploy_script
                                  NO_UNSUPPORTED_PLATFORM_ERROR)
    install(SCRIPT ${deploy_script})
endfunction()
