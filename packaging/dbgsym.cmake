# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Run by cpack after it made the packages (CPACK_POST_BUILD_SCRIPTS). Puts right what CPack
# leaves wrong in the debug-symbol package: its md5sums name the files by their paths in
# cpack's staging tree instead of in the package, its .debug files are marked executable, and
# it has no documentation folder; like Debian's own -dbgsym packages it gets a link to that of
# the package it belongs to, which it depends on.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "-dbgsym_.*\\.ddeb$")
        continue()
    endif()
    get_filename_component(dir "${package}" DIRECTORY)
    set(tree "${dir}/dbgsym-tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)

    file(READ "${tree}/DEBIAN/md5sums" sums)
    string(REGEX REPLACE "  /[^\n]*-dbgsym/" "  " sums "${sums}")
    file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
    file(GLOB_RECURSE debug_files "${tree}/usr/lib/debug/*.debug")
    file(CHMOD ${debug_files} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(STRINGS "${tree}/DEBIAN/control" name REGEX "^Package: ")
    string(REGEX REPLACE "^Package: (.*)-dbgsym$" "\\1" owner "${name}")
    file(MAKE_DIRECTORY "${tree}/usr/share/doc")
    file(CREATE_LINK "${owner}" "${tree}/usr/share/doc/${owner}-dbgsym" SYMBOLIC)

    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${tree}")
endforeach()
