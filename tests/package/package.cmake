# The package test makes the Debian package from this build tree with CPack
# and starts the unpacked programs; the app is closed by the start-up test's
# helper, qvkctl runs the boot-loader stand-in.
pqvk_add_test(NAME tst_package SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_package.cpp TIMEOUT 600)
target_compile_definitions(tst_package PRIVATE
    PQVK_CPACK="${CMAKE_CPACK_COMMAND}" PQVK_AUTOCLOSE="$<TARGET_FILE:pqvk_autoclose>")
add_dependencies(tst_package VazizidADU qvkctl pqvk_package_files bootloader pqvk_autoclose)
