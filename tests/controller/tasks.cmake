# The controller task tests also run the boot-loader stand-in of tools/bootloader.
pqvk_add_test(NAME tst_controllertasks
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_controllertasks.cpp)
target_compile_definitions(tst_controllertasks PRIVATE
    PQVK_BOOTLOADER_STANDIN="$<TARGET_FILE:bootloader>")
add_dependencies(tst_controllertasks bootloader)
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_controllertasks.cpp)
