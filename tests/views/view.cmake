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
        LIBS pqvkviews qvkcalibration qvksimulator Qt5::Quick Qt5::Qml Qt5::Widgets)
endif()
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tst_viewend2end.cpp)

# Every page and box at the design scale, and again at the smallest scale, on a
# virtual display: the offscreen platform does not scale the window's size.
# The scale is fixed when the application starts, so each gets a run of its own;
# the checks that do not depend on the scale run at the design scale only.
pqvk_add_test(NAME tst_mainview_geometry XVFB
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview_geometry.cpp
    LIBS pqvkviews Qt5::QuickTest Qt5::Quick)
get_test_property(tst_mainview_geometry ENVIRONMENT geometry_env)
add_test(NAME tst_mainview_geometry_small
    COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:tst_mainview_geometry>
        Geometry::test_pages Geometry::test_boxes)
set_tests_properties(tst_mainview_geometry_small PROPERTIES
    TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    ENVIRONMENT "${geometry_env};QT_SCALE_FACTOR=0.655")
target_compile_definitions(tst_mainview_geometry PRIVATE
    QUICK_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/geometry")
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview_geometry.cpp)
