# Run by `cmake --install` (through install(CODE)), so that every path it
# writes into a file or a link follows the prefix and DESTDIR given at
# install time, never the ones the build was configured with.
#
# Set by the caller: HUB_PART ("program" or "desktop"), HUB_APPLICATIONS_DIR
# (absolute, or relative to the prefix), HUB_BUNDLE_ID, HUB_SITE,
# HUB_RESOURCES (the source's Resources folder), HUB_APPLETS, HUB_BINDIR and
# HUB_DATADIR (relative to the prefix).

if(IS_ABSOLUTE "${HUB_APPLICATIONS_DIR}")
    set(_apps "${HUB_APPLICATIONS_DIR}")
else()
    set(_apps "${CMAKE_INSTALL_PREFIX}/${HUB_APPLICATIONS_DIR}")
endif()
set(_bundle "${_apps}/Tarnhub.app")
set(HUB_PROGRAM "${_bundle}/Contents/MacOS/hubtarn")
set(HUB_ADMIN_HELPER "${_bundle}/Contents/Helpers/hubtarn-admin")
set(_destdir "$ENV{DESTDIR}")

# A link made here (at `link` under DESTDIR), listed in the manifest like
# every installed file: as CMake lists its own, without DESTDIR.
function(_hub_link target link)
    set(_staged "${_destdir}${link}")
    get_filename_component(_folder "${_staged}" DIRECTORY)
    file(MAKE_DIRECTORY "${_folder}")
    file(REMOVE "${_staged}")
    file(CREATE_LINK "${target}" "${_staged}" SYMBOLIC)
    message(STATUS "Linking: ${_staged} -> ${target}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${link}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# A resource with this install's paths filled in, at `destination` under
# DESTDIR.
function(_hub_configure template destination)
    configure_file("${HUB_RESOURCES}/${template}" "${_destdir}${destination}" @ONLY)
    message(STATUS "Installing: ${_destdir}${destination}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destination}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

if(HUB_PART STREQUAL "program")
    # The applets are links to the one executable beside them.
    foreach(_applet IN LISTS HUB_APPLETS)
        _hub_link(hubtools "${_bundle}/Contents/Helpers/${_applet}")
    endforeach()
    # A link within one top-level folder is relative, one across them
    # absolute (Debian's rule, which lintian checks): /usr/bin/hubtarn
    # reaches a bundle in /usr/lib/tarnhub as ../lib/tarnhub/..., one in
    # /opt by its whole path.
    cmake_path(SET _command NORMALIZE "${CMAKE_INSTALL_PREFIX}/${HUB_BINDIR}/hubtarn")
    cmake_path(SET _program NORMALIZE "${HUB_PROGRAM}")
    string(REGEX MATCH "^/[^/]+" _command_top "${_command}")
    string(REGEX MATCH "^/[^/]+" _program_top "${_program}")
    if(_command_top STREQUAL _program_top)
        cmake_path(GET _command PARENT_PATH _command_folder)
        file(RELATIVE_PATH _program "${_command_folder}" "${_program}")
    endif()
    _hub_link("${_program}" "${_command}")
elseif(HUB_PART STREQUAL "desktop")
    set(_data "${CMAKE_INSTALL_PREFIX}/${HUB_DATADIR}")
    _hub_configure(launcher.desktop.in "${_data}/applications/${HUB_BUNDLE_ID}.desktop")
    _hub_configure(url-handler.desktop.in "${_data}/applications/${HUB_BUNDLE_ID}.url-handler.desktop")
    # polkit reads /usr/share/polkit-1/actions only: a package for /usr
    # gives the password dialog the program's own sentence; elsewhere the
    # dialog falls back to polkit's.
    _hub_configure(polkit.policy.in "${_data}/polkit-1/actions/${HUB_BUNDLE_ID}.policy")
    # Links reach the program through the desktop database. A package's
    # staging (DESTDIR) is left alone: its own triggers refresh the
    # database where it lands.
    if(_destdir STREQUAL "")
        find_program(_hub_update_desktop_database update-desktop-database)
        if(_hub_update_desktop_database)
            execute_process(COMMAND "${_hub_update_desktop_database}" -q "${_data}/applications"
                            RESULT_VARIABLE _status)
            if(NOT _status EQUAL 0)
                message(WARNING "update-desktop-database failed (${_status}); links may not reach Tarnhub")
            endif()
        else()
            message(STATUS "update-desktop-database is not installed; links reach Tarnhub once the desktop database is refreshed")
        endif()
    endif()
endif()
