# The command-line companion's tests also run the real qvkctl program, whose
# firmware update needs the boot-loader stand-in.
pqvk_add_test(NAME tst_qvkctl SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qvkctl.cpp)
add_dependencies(tst_qvkctl qvkctl bootloader)

# qvkctl on a pseudo-terminal (forkpty) and through a pipe.
pqvk_add_test(NAME tst_qvkctlterminal SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qvkctlterminal.cpp
    LIBS util)
add_dependencies(tst_qvkctlterminal qvkctl)

# Preloaded into qvkctl by a test: holds its first temporary file unlocked for
# a while after creating it.
add_library(pqvk_delaycreate MODULE ${CMAKE_CURRENT_LIST_DIR}/delaycreate.cpp)
target_link_libraries(pqvk_delaycreate PRIVATE dl)
add_dependencies(tst_qvkctl pqvk_delaycreate)
target_compile_definitions(tst_qvkctl PRIVATE
    PQVK_DELAY_CREATE="$<TARGET_FILE:pqvk_delaycreate>")
