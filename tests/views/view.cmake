# Qt Quick tests of the view (qml/) with a fake controller and the calibration
# service stand-in.
pqvk_add_test(NAME tst_mainview
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview.cpp
    LIBS pqvkviews qvkcalibration Qt5::QuickTest Qt5::Quick
    ENV QT_QUICK_BACKEND=software)
target_compile_definitions(tst_mainview PRIVATE
    QUICK_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/qml")

# The real controller and view on a virtual display with the simulated unit;
# saves screenshots under the build folder (or PQVK_SCREENSHOT_DIR).
if(TARGET qvksimulator)
    pqvk_add_test(NAME tst_viewend2end XVFB TIMEOUT 180
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_viewend2end.cpp
        LIBS pqvkviews qvkcalibration qvksimulator Qt5::Quick Qt5::Qml)
endif()
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tst_viewend2end.cpp)

# Every page and box at the design scale and at the smallest scale, on a
# virtual display: the offscreen platform does not scale the window's size.
pqvk_add_test(NAME tst_mainview_geometry XVFB
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview_geometry.cpp
    LIBS pqvkviews Qt5::QuickTest Qt5::Quick)
target_compile_definitions(tst_mainview_geometry PRIVATE
    QUICK_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/geometry")
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview_geometry.cpp)
