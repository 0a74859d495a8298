# The controller task tests also run the boot-loader stand-in of tools/bootloader.
# Both run in a zone with daylight saving: the unit's clock and the CSV names
# and rows are local time.
pqvk_add_test(NAME tst_controllertasks
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_controllertasks.cpp ENV TZ=Europe/Berlin)
target_compile_definitions(tst_controllertasks PRIVATE
    PQVK_BOOTLOADER_STANDIN="$<TARGET_FILE:bootloader>")
add_dependencies(tst_controllertasks bootloader)
pqvk_add_test(NAME tst_dataexport SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_dataexport.cpp
    ENV TZ=Europe/Berlin)
