# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

# Debian's hardening flags, as dpkg-buildflags gives them with every hardening feature on:
# fortified libc calls, the stack protector, format-string checks, and relocations made
# read-only and bound at load (relro, bindnow). Every target gets them, so the tests run the
# code as the package ships it. The build type keeps its own optimisation and debug flags, and a
# debug build (no optimisation) goes without the fortified calls, which need it. Sanitized and
# fuzzing builds go without all of them: the sanitizers replace those checks with their own.
option(IMU_HARDENING "Compile and link with the hardening flags of dpkg-buildflags" ON)
find_program(IMU_DPKG_BUILDFLAGS dpkg-buildflags)
if(IMU_HARDENING AND NOT IMU_SANITIZE AND NOT IMU_FUZZ)
    if(NOT IMU_DPKG_BUILDFLAGS)
        message(WARNING "dpkg-buildflags not found (package dpkg-dev): building without hardening flags")
    else()
        foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
            execute_process(
                COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                        ${IMU_DPKG_BUILDFLAGS} --get ${kind}
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE status)
            if(NOT status EQUAL 0)
                message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
            endif()
            separate_arguments(flags UNIX_COMMAND "${flags}")
            # The build type's choices, and a path mapping for reproducible Debian builds that
            # would point the debugger at the wrong sources.
            list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
            list(TRANSFORM flags REPLACE "^(-D_FORTIFY_SOURCE=.*)$" "$<$<NOT:$<CONFIG:Debug>>:\\1>")
            if(kind STREQUAL LDFLAGS)
                add_link_options(${flags})
            else()
                add_compile_options(${flags})
            endif()
        endforeach()
    endif()
endif()
