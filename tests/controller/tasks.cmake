# The firmware update test runs the boot-loader stand-in of tools/bootloader.
pqvk_add_test(NAME tst_firmwareupdate
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_firmwareupdate.cpp)
target_compile_definitions(tst_firmwareupdate PRIVATE
    PQVK_BOOTLOADER_STANDIN="$<TARGET_FILE:bootloader>")
add_dependencies(tst_firmwareupdate bootloader)
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_firmwareupdate.cpp)
