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
    add_dependencies(tst_viewend2end VazizidADU) # its file chooser process
endif()
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tst_viewend2end.cpp)

# Every page and box on a laptop, a desktop and a large screen at 96 DPI, each
# at the scale the start-up computes for it (the scale is fixed when the
# application starts, so each screen gets a run of its own). The offscreen
# platform does not scale the window's size: a virtual display does.
add_executable(tst_mainview_geometry ${CMAKE_CURRENT_LIST_DIR}/tst_mainview_geometry.cpp)
target_link_libraries(tst_mainview_geometry PRIVATE pqvktestsupport pqvkviews Qt5::QuickTest Qt5::Quick)
set(geometry_home ${CMAKE_BINARY_DIR}/testhome/tst_mainview_geometry)
file(MAKE_DIRECTORY ${geometry_home})
foreach(screen 1366x768 1920x1080 2560x1440)
    add_test(NAME tst_mainview_geometry_${screen}
        COMMAND xvfb-run -a -s "-screen 0 ${screen}x24 -dpi 96" $<TARGET_FILE:tst_mainview_geometry>)
    set_tests_properties(tst_mainview_geometry_${screen} PROPERTIES
        TIMEOUT 300
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        ENVIRONMENT "HOME=${geometry_home};XDG_CONFIG_HOME=${geometry_home}/.config;XDG_DATA_HOME=${geometry_home}/.local/share;XDG_CACHE_HOME=${geometry_home}/.cache;XDG_RUNTIME_DIR=${geometry_home}/runtime;QT_QPA_PLATFORM=xcb")
endforeach()
target_compile_definitions(tst_mainview_geometry PRIVATE
    QUICK_TEST_SOURCE_DIR="${CMAKE_CURRENT_LIST_DIR}/geometry")
list(APPEND PQVK_CUSTOM_TEST_SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_mainview_geometry.cpp)
