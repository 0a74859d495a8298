# The import tests once more with the copy that uses Qt's file classes only
# (the one Windows builds use): its sources are compiled into the test in place
# of the library's copy (the POSIX back-end compiles to nothing there).
pqvk_add_test(NAME tst_mediaimport_portable
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mediaimport.cpp
        ${PROJECT_SOURCE_DIR}/src/cards/verifiedcopy.cpp
        ${PROJECT_SOURCE_DIR}/src/cards/verifiedcopyposix.cpp
        ${PROJECT_SOURCE_DIR}/src/cards/verifiedcopyqt.cpp)
target_compile_definitions(tst_mediaimport_portable PRIVATE PQVK_PORTABLE_COPY)
