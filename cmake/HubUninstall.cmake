# Run by the `uninstall` target (`cmake --build build --target uninstall`,
# under the same DESTDIR as the install): takes away what an install from
# this build folder put in place, as its manifest lists it, and leaves no
# trace of ours: the bundle whole (its own update may have changed what is
# inside), the folders of ours left empty, and a desktop database that no
# longer names the removed entries.
#
# Set by the caller: HUB_MANIFEST (the install's manifest), HUB_BINDIR and
# HUB_DATADIR (relative to the prefix).

cmake_policy(VERSION 3.25)

if(NOT EXISTS "${HUB_MANIFEST}")
    message(FATAL_ERROR "Nothing to remove: ${HUB_MANIFEST} is missing; it is written by `cmake --install` of this build folder.")
endif()
set(_destdir "$ENV{DESTDIR}")
file(STRINGS "${HUB_MANIFEST}" _files)

# The folders every install of ours shares with the rest of the system stay
# even when empty: the prefix, its bin/ and share/, and the applications
# folder; the prefix is the one the install used, read from the manifest.
set(_keep "/")
set(_bundles "")
set(_applications "")
foreach(_file IN LISTS _files)
    if(_file MATCHES "^(.*)/${HUB_BINDIR}/hubtarn$")
        list(APPEND _keep "${CMAKE_MATCH_1}" "${CMAKE_MATCH_1}/${HUB_BINDIR}" "${CMAKE_MATCH_1}/${HUB_DATADIR}")
    elseif(_file MATCHES "^(.*)/${HUB_DATADIR}/applications/[^/]+\\.desktop$")
        list(APPEND _keep "${CMAKE_MATCH_1}" "${CMAKE_MATCH_1}/${HUB_BINDIR}" "${CMAKE_MATCH_1}/${HUB_DATADIR}")
        list(APPEND _applications "${CMAKE_MATCH_1}/${HUB_DATADIR}/applications")
    endif()
    if(_file MATCHES "^(.*)/(Tarnhub\\.app)/")
        list(APPEND _keep "${CMAKE_MATCH_1}")
        list(APPEND _bundles "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
    endif()
endforeach()
list(REMOVE_DUPLICATES _keep)
list(REMOVE_DUPLICATES _bundles)
list(REMOVE_DUPLICATES _applications)

set(_folders "")
foreach(_file IN LISTS _files)
    set(_staged "${_destdir}${_file}")
    if(EXISTS "${_staged}" OR IS_SYMLINK "${_staged}")
        message(STATUS "Removing: ${_staged}")
        file(REMOVE "${_staged}")
    endif()
    get_filename_component(_folder "${_file}" DIRECTORY)
    list(APPEND _folders "${_folder}")
endforeach()
foreach(_bundle IN LISTS _bundles)
    set(_staged "${_destdir}${_bundle}")
    if(IS_SYMLINK "${_staged}")
        file(REMOVE "${_staged}")
    elseif(IS_DIRECTORY "${_staged}")
        message(STATUS "Removing: ${_staged}")
        file(REMOVE_RECURSE "${_staged}")
    endif()
endforeach()

# With no entry left the cache is stale whole; with others left, it is
# written again without ours (a package's staging has no database).
foreach(_folder IN LISTS _applications)
    set(_staged "${_destdir}${_folder}")
    file(GLOB _entries "${_staged}/*.desktop")
    if(NOT _entries)
        file(REMOVE "${_staged}/mimeinfo.cache")
    elseif(_destdir STREQUAL "" AND EXISTS "${_staged}/mimeinfo.cache")
        find_program(_hub_update_desktop_database update-desktop-database)
        if(_hub_update_desktop_database)
            execute_process(COMMAND "${_hub_update_desktop_database}" -q "${_staged}")
        else()
            message(WARNING "update-desktop-database is not installed; ${_staged}/mimeinfo.cache may still name Tarnhub")
        endif()
    endif()
    list(APPEND _folders "${_folder}")
endforeach()

# Each emptied folder goes, and its parents while they are empty too.
list(REMOVE_DUPLICATES _folders)
foreach(_folder IN LISTS _folders)
    while(NOT _folder IN_LIST _keep AND IS_DIRECTORY "${_destdir}${_folder}"
          AND NOT IS_SYMLINK "${_destdir}${_folder}")
        file(GLOB _left LIST_DIRECTORIES true "${_destdir}${_folder}/*" "${_destdir}${_folder}/.*")
        if(_left)
            break()
        endif()
        file(REMOVE_RECURSE "${_destdir}${_folder}")
        get_filename_component(_folder "${_folder}" DIRECTORY)
    endwhile()
endforeach()
