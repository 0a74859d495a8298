# Run by CPack once it has made the package (CPACK_POST_BUILD_SCRIPTS): sets
# the package's Installed-Size as dpkg-gencontrol counts it, a file by its
# size in KiB rounded up, a folder or a link as 1. CPack counts every file by
# the size of what it points to, so the links in bin/ counted the programs a
# second time. The package is made anew with dpkg-deb, which takes its time
# stamps from SOURCE_DATE_EPOCH when that is set.

cmake_policy(VERSION 3.19)

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    if(NOT deb MATCHES "\\.deb$")
        continue()
    endif()
    set(tree "${deb}.tree")
    file(REMOVE_RECURSE "${tree}")
    execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not unpack ${deb}")
    endif()

    file(GLOB_RECURSE entries LIST_DIRECTORIES true "${tree}/*")
    set(kib 0)
    foreach(entry IN LISTS entries)
        file(RELATIVE_PATH relative "${tree}" "${entry}")
        if(relative MATCHES "^DEBIAN(/|$)")
            continue()
        endif()
        if(IS_SYMLINK "${entry}" OR IS_DIRECTORY "${entry}")
            math(EXPR kib "${kib} + 1")
        else()
            file(SIZE "${entry}" bytes)
            math(EXPR kib "${kib} + (${bytes} + 1023) / 1024")
        endif()
    endforeach()

    file(READ "${tree}/DEBIAN/control" control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control "${control}")
    file(WRITE "${tree}/DEBIAN/control" "${control}")
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}"
                    RESULT_VARIABLE status OUTPUT_QUIET)
    file(REMOVE_RECURSE "${tree}")
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not make ${deb} again")
    endif()
endforeach()
