# Installation as a desktop application, and the Debian package (cpack -G DEB).
#
# The tool reads its pictures from ./image, so they go to <datadir>/imu-calibration-tool/image
# and each desktop entry starts the tool there (Path=).
set(IMU_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(IMU_DATA_SUBDIR ${CMAKE_INSTALL_DATADIR}/imu-calibration-tool)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/image/ DESTINATION ${IMU_DATA_SUBDIR}/image
        FILES_MATCHING PATTERN "*.png" PATTERN "*.bmp" PATTERN "src" EXCLUDE)
install(FILES ${IMU_PACKAGING_DIR}/imu-calibration-tool.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)

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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME imu-calibration-tool)
set(CPACK_PACKAGE_VENDOR "IMU Calibration Tool developers")
set(CPACK_PACKAGE_CONTACT "IMU Calibration Tool developers <imu-calibration-tool@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Live view and magnetometer calibration for a BLE motion controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds a handheld BLE motion controller through the computer's Bluetooth adapter, shows its
buttons, trigger, joystick, magnetometer and orientation live, calibrates its magnetometer and
checks that its orientation holds still. imu-calibration-tool-demo runs the same tool on three
simulated controllers.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The real tool talks to BlueZ over D-Bus; the demo needs neither.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bluez")
include(CPack)
