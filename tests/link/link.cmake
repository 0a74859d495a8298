# The sentence and record parsers, with their random-input test, built with
# AddressSanitizer and UndefinedBehaviorSanitizer: their sources are compiled
# into the test itself so the whole path is instrumented.
pqvk_add_test(NAME tst_linkparsing NO_SUPPORT
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_linkparsing.cpp
        ${PROJECT_SOURCE_DIR}/src/link/nmeasentence.cpp
        ${PROJECT_SOURCE_DIR}/src/link/datarecord.cpp
    LIBS Qt5::Core
    ENV ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1)
target_include_directories(tst_linkparsing PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(tst_linkparsing PRIVATE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
target_link_options(tst_linkparsing PRIVATE -fsanitize=address,undefined)
