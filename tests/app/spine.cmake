# The start-up test runs the real app and closes its window through a helper
# library that it preloads into the app.
add_library(pqvk_autoclose MODULE ${CMAKE_CURRENT_LIST_DIR}/autoclose.cpp)
target_link_libraries(pqvk_autoclose PRIVATE Qt5::Gui)
pqvk_add_test(NAME tst_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_startup.cpp TIMEOUT 240)
target_compile_definitions(tst_startup PRIVATE
    PQVK_APP="$<TARGET_FILE:VazizidADU>" PQVK_AUTOCLOSE="$<TARGET_FILE:pqvk_autoclose>")
add_dependencies(tst_startup VazizidADU pqvk_autoclose)
