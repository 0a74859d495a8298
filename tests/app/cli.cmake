# The command-line companion's tests also run the real qvkctl program, which
# needs the boot-loader stand-in for its firmware update.
pqvk_add_test(NAME tst_qvkctl SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qvkctl.cpp)
add_dependencies(tst_qvkctl qvkctl)
if(TARGET bootloader)
    add_dependencies(tst_qvkctl bootloader)
endif()
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qvkctl.cpp)
