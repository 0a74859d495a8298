# The import tests once more with the copy that uses Qt's file classes only
# (the one Windows builds use): its source is compiled into the test in place
# of the library's copy.
pqvk_add_test(NAME tst_mediaimport_portable
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mediaimport.cpp
        ${PROJECT_SOURCE_DIR}/src/cards/verifiedcopy.cpp)
target_compile_definitions(tst_mediaimport_portable PRIVATE PQVK_PORTABLE_COPY)
