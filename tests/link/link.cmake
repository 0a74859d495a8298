# Random bytes through the sentence and record parsers, built with
# AddressSanitizer and UndefinedBehaviorSanitizer: the parser sources are
# compiled into the test itself so the whole path is instrumented.
set(link_fuzz_test ${CMAKE_CURRENT_LIST_DIR}/tst_linkfuzz.cpp)
pqvk_add_test(NAME tst_linkfuzz NO_SUPPORT
    SOURCES ${link_fuzz_test}
        ${PROJECT_SOURCE_DIR}/src/link/nmeasentence.cpp
        ${PROJECT_SOURCE_DIR}/src/link/datarecord.cpp
    LIBS Qt5::Core
    ENV ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1)
target_include_directories(tst_linkfuzz PRIVATE ${PROJECT_SOURCE_DIR}/src/link)
target_compile_options(tst_linkfuzz PRIVATE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
target_link_options(tst_linkfuzz PRIVATE -fsanitize=address,undefined)
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${link_fuzz_test})
