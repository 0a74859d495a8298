# Qt Quick tests of the view with a fake controller; they need the compiled-in
# view and the calibration service stand-in.
set(view_quick_test_sources
    ${CMAKE_CURRENT_LIST_DIR}/tst_mainview.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fakecontroller.h)
pqvk_add_test(NAME tst_mainview
    SOURCES ${view_quick_test_sources}
    LIBS pqvkviews qvkcalibration Qt5::QuickTest Qt5::Quick
    ENV QT_QUICK_BACKEND=software)
target_compile_definitions(tst_mainview PRIVATE
    QUICK_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/qml")
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview.cpp)

# The real controller and view on a virtual display, with the simulated
# controller unit and the calibration stand-in; saves screenshots under the
# build folder (or PQVK_SCREENSHOT_DIR).
if(TARGET qvksimulator)
    pqvk_add_test(NAME tst_viewend2end XVFB TIMEOUT 180
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_viewend2end.cpp
        LIBS pqvkviews qvkcalibration qvksimulator Qt5::Quick Qt5::Qml)
endif()
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_viewend2end.cpp)
