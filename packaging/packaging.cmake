# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Installation as a desktop application, and the Debian package (cpack -G DEB).
#
# The tool reads its pictures from ./image, so they go to <datadir>/imu-calibration-tool/image
# and each desktop entry starts the tool there (Path=). Beside the programs go their manual
# pages and shell completions, made at build time from each program's --help, the AppStream
# metainfo, the icon in the hicolor theme's sizes, the copyright file and the changelog.
set(IMU_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(IMU_DATA_SUBDIR ${CMAKE_INSTALL_DATADIR}/imu-calibration-tool)
set(IMU_DOC_SUBDIR ${CMAKE_INSTALL_DATADIR}/doc/imu-calibration-tool)
set(IMU_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# Where the project is found and who answers for the package: placeholders under example.org
# until the project has a home of its own. Set them for a release; the metainfo, the package and
# its changelog name them. The AppStream ID, which must not change once software centres know
# it, is under the same placeholder domain.
set(IMU_PROJECT_URL "https://imu-calibration-tool.example.org" CACHE STRING
    "Home page named by the AppStream metainfo")
set(IMU_SCREENSHOT_URL "${IMU_PROJECT_URL}/doc" CACHE STRING
    "Folder URL under which the README's screenshots (doc/*.png) are published")
set(IMU_PACKAGE_CONTACT "IMU Calibration Tool developers <imu-calibration-tool@example.org>"
    CACHE STRING "Maintainer of the Debian package")
set(IMU_APPSTREAM_ID org.example.imu_calibration_tool)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/image/ DESTINATION ${IMU_DATA_SUBDIR}/image
        FILES_MATCHING PATTERN "*.png" PATTERN "*.bmp" PATTERN "src" EXCLUDE)
# The icon, rendered from image/src/logo.svg by image/render.sh, and that source itself.
install(DIRECTORY ${IMU_PACKAGING_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${PROJECT_SOURCE_DIR}/image/src/logo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME imu-calibration-tool.svg)

# The entries name absolute paths, which are known only at install time: cpack installs
# under its own prefix (/usr), cmake --install under CMAKE_INSTALL_PREFIX or --prefix.
set(imu_entries imu-calibration-tool-demo)
if(TARGET imu-calibration-tool)
    list(APPEND imu_entries imu-calibration-tool)
endif()
foreach(entry IN LISTS imu_entries)
    install(CODE "
        set(IMU_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${entry}\")
        set(IMU_DATA_DIR \"\${CMAKE_INSTALL_PREFIX}/${IMU_DATA_SUBDIR}\")
        set(out \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/${entry}.desktop\")
        message(STATUS \"Installing: \${out}\")
        configure_file(\"${IMU_PACKAGING_DIR}/${entry}.desktop.in\" \"\${out}\" @ONLY)
    ")
endforeach()

# The changelog's newest entry is this version's: a new version needs its entry first. Its
# date is the release date the metainfo gives.
file(STRINGS ${IMU_PACKAGING_DIR}/changelog imu_changelog)
list(GET imu_changelog 0 imu_changelog_head)
if(NOT imu_changelog_head MATCHES "^imu-calibration-tool \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog starts with '${imu_changelog_head}', "
                        "not with an entry for version ${PROJECT_VERSION}")
endif()
list(FILTER imu_changelog INCLUDE REGEX "^ -- ")
list(GET imu_changelog 0 imu_changelog_sign)
if(NOT imu_changelog_sign MATCHES ", ([0-9][0-9]) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/changelog: no date in '${imu_changelog_sign}'")
endif()
set(imu_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND imu_months ${CMAKE_MATCH_2} imu_month)
math(EXPR imu_month "${imu_month} + 1" OUTPUT_FORMAT DECIMAL)
if(imu_month LESS 10)
    set(imu_month 0${imu_month})
endif()
set(IMU_RELEASE_DATE ${CMAKE_MATCH_3}-${imu_month}-${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${IMU_PACKAGING_DIR}/changelog)

# The copyright file in Debian's machine-readable format, with the licence from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE imu_license)
if(NOT imu_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n")
    message(FATAL_ERROR "LICENSE has no line 'Copyright (c) <year> <holder>'")
endif()
set(imu_copyright "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*\n(Permission is hereby granted)" "\\1" imu_license "${imu_license}")
string(STRIP "${imu_license}" imu_license)
string(REPLACE "\n\n" "\n.\n" imu_license "${imu_license}")
string(REPLACE "\n" "\n " imu_license "${imu_license}")
file(WRITE ${IMU_GENERATED_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: imu-calibration-tool
Source: ${IMU_PROJECT_URL}

Files: *
Copyright: ${imu_copyright}
License: Expat
 ${imu_license}
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
install(FILES ${IMU_GENERATED_DIR}/copyright DESTINATION ${IMU_DOC_SUBDIR})

# AppStream metainfo: one component with a launcher for each program, the real tool's first
# (a software centre starts the first).
set(IMU_APPSTREAM_LAUNCHABLES "")
set(IMU_APPSTREAM_BINARIES "")
set(imu_launch_order ${imu_entries})
list(REVERSE imu_launch_order)
foreach(entry IN LISTS imu_launch_order)
    string(APPEND IMU_APPSTREAM_LAUNCHABLES
           "  <launchable type=\"desktop-id\">${entry}.desktop</launchable>\n")
    string(APPEND IMU_APPSTREAM_BINARIES "    <binary>${entry}</binary>\n")
endforeach()
string(STRIP "${IMU_APPSTREAM_LAUNCHABLES}" IMU_APPSTREAM_LAUNCHABLES)
string(STRIP "${IMU_APPSTREAM_BINARIES}" IMU_APPSTREAM_BINARIES)
set(IMU_APPSTREAM_LAUNCHABLES "  ${IMU_APPSTREAM_LAUNCHABLES}")
set(IMU_APPSTREAM_BINARIES "    ${IMU_APPSTREAM_BINARIES}")
set(IMU_METAINFO ${IMU_GENERATED_DIR}/${IMU_APPSTREAM_ID}.metainfo.xml)
configure_file(${IMU_PACKAGING_DIR}/imu-calibration-tool.metainfo.xml.in ${IMU_METAINFO} @ONLY)
install(FILES ${IMU_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Made from the programs themselves, so they run at build time; a sanitized build has no use
# for them (and its programs may not end cleanly on their own).
find_program(IMU_HELP2MAN help2man)
find_program(IMU_GZIP gzip)
find_package(Python3 COMPONENTS Interpreter)
if(NOT IMU_SANITIZE)
    if(NOT IMU_HELP2MAN OR NOT IMU_GZIP)
        message(WARNING "help2man or gzip not found (tools/deps.sh installs them): no manual pages")
    endif()
    if(NOT Python3_Interpreter_FOUND)
        message(WARNING "python3 not found: no shell completion")
    endif()
endif()

set(IMU_MAN_INTRO_imu-calibration-tool
    "imu-calibration-tool works through the computer's own Bluetooth adapter (on Linux, BlueZ\n"
    "through Qt Bluetooth): it finds controllers, connects to one and shows its live state,\n"
    "records a magnetometer calibration and writes it to the controller, and runs a stationary\n"
    "check that tells whether the orientation output holds still.")
set(IMU_MAN_INTRO_imu-calibration-tool-demo
    "imu-calibration-tool-demo is the IMU Calibration Tool on a virtual dongle with three\n"
    "simulated controllers: they advertise, connect, stream reports from a physical model\n"
    "(lying still for about 20 s, then turning for about 20 s, and again) and acknowledge\n"
    "calibrations, so the tool runs on any machine without Bluetooth.")
set(IMU_MAN_NAME_imu-calibration-tool
    "live view and magnetometer calibration for a BLE motion controller")
set(IMU_MAN_NAME_imu-calibration-tool-demo
    "the IMU Calibration Tool on three simulated controllers")

set(imu_generated "")
# Where the tests find the completions.
if(NOT IMU_SANITIZE AND Python3_Interpreter_FOUND)
    set_property(GLOBAL PROPERTY IMU_COMPLETION_DIR ${IMU_GENERATED_DIR})
endif()
file(MAKE_DIRECTORY ${IMU_GENERATED_DIR}/man ${IMU_GENERATED_DIR}/bash-completion
     ${IMU_GENERATED_DIR}/zsh)
foreach(entry IN LISTS imu_entries)
    if(IMU_SANITIZE)
        break()
    endif()
    if(IMU_HELP2MAN AND IMU_GZIP)
        set(IMU_PROGRAM ${entry})
        string(CONCAT IMU_MAN_INTRO ${IMU_MAN_INTRO_${entry}})
        set(IMU_OTHER_PROGRAM imu-calibration-tool)
        if(entry STREQUAL imu-calibration-tool)
            set(IMU_OTHER_PROGRAM imu-calibration-tool-demo)
        endif()
        set(include ${IMU_GENERATED_DIR}/${entry}.h2m)
        configure_file(${IMU_PACKAGING_DIR}/manpage.h2m.in ${include} @ONLY)
        set(page ${IMU_GENERATED_DIR}/man/${entry}.1)
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${IMU_HELP2MAN} --no-info --no-discard-stderr --section 1
                    --name ${IMU_MAN_NAME_${entry}} --include ${include} --output ${page}
                    $<TARGET_FILE:${entry}>
            COMMAND ${IMU_GZIP} -9nf ${page}
            DEPENDS ${entry} ${include}
            COMMENT "Manual page of ${entry} from its --help"
            VERBATIM)
        list(APPEND imu_generated ${page}.gz)
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
    if(Python3_Interpreter_FOUND)
        set(bash ${IMU_GENERATED_DIR}/bash-completion/${entry})
        set(zsh ${IMU_GENERATED_DIR}/zsh/_${entry})
        foreach(shell bash zsh)
            add_custom_command(OUTPUT ${${shell}}
                COMMAND ${Python3_EXECUTABLE} ${IMU_PACKAGING_DIR}/completion.py ${shell}
                        ${entry} ${${shell}} -- $<TARGET_FILE:${entry}>
                DEPENDS ${entry} ${IMU_PACKAGING_DIR}/completion.py
                COMMENT "${shell} completion of ${entry} from its --help"
                VERBATIM)
        endforeach()
        list(APPEND imu_generated ${bash} ${zsh})
        install(FILES ${bash} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
        install(FILES ${zsh} DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
    endif()
endforeach()

if(IMU_GZIP)
    set(changelog ${IMU_GENERATED_DIR}/changelog)
    add_custom_command(OUTPUT ${changelog}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${IMU_PACKAGING_DIR}/changelog ${changelog}
        COMMAND ${IMU_GZIP} -9nf ${changelog}
        DEPENDS ${IMU_PACKAGING_DIR}/changelog
        VERBATIM)
    list(APPEND imu_generated ${changelog}.gz)
    install(FILES ${changelog}.gz DESTINATION ${IMU_DOC_SUBDIR})
endif()
# The manual pages, completions and the changelog, built with everything else.
add_custom_target(imucal_package_files ALL DEPENDS ${imu_generated})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME imu-calibration-tool)
set(CPACK_PACKAGE_VENDOR "IMU Calibration Tool developers")
set(CPACK_PACKAGE_CONTACT "${IMU_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Live view and magnetometer calibration for a BLE motion controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds a handheld BLE motion controller through the computer's Bluetooth
adapter, shows its buttons, trigger, joystick, magnetometer and orientation
live, calibrates its magnetometer and checks that its orientation holds still.
imu-calibration-tool-demo runs the same tool on three simulated controllers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs go stripped into the package, their debug information into a separate
# imu-calibration-tool-dbgsym .ddeb beside it, found by build ID and debug link.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${IMU_PACKAGING_DIR}/dbgsym.cmake)
# The real tool talks to BlueZ over D-Bus; the demo needs neither.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bluez")
include(CPack)
