# The browser toolbar and the sheets shared by the browser and the
# synchronisation windows.
set(sheets_env
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/platform/ui/lsan.supp"
    "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")

zarvel_test(browser_sheets_test
    SOURCES operation_sheets_test.cpp progress_sheets_test.cpp toolbar_test.cpp
    LIBS zarvel_sheets zarvel_platform_ui_testing
    LABELS unit
    ENV ${sheets_env}
    TIMEOUT 120)

# Every sheet and the toolbar for real under a virtual display; the pictures
# go to screenshots/ in the build folder.
add_executable(browser_sheets_screenshot sheets_screenshot.cpp
                                         ${CMAKE_SOURCE_DIR}/tests/support/sheet_shots.cpp)
target_include_directories(browser_sheets_screenshot PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(browser_sheets_screenshot PRIVATE zarvel_sheets zarvel_platform_ui_testing)
add_test(NAME browser_sheets_screenshot
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/support/sheet_shots.sh
            $<TARGET_FILE:browser_sheets_screenshot> ${CMAKE_BINARY_DIR} 800x560x24)
set_tests_properties(browser_sheets_screenshot PROPERTIES TIMEOUT 120
    ENVIRONMENT "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")

# What the window layer offers the toolbar and the sheets (looked at through
# the widgets themselves).
find_package(Qt6 REQUIRED COMPONENTS Widgets)
zarvel_test(browser_sheets_layer_test
    SOURCES sheets_layer_test.cpp
    LIBS zarvel_sheets zarvel_platform_ui_testing Qt6::Widgets
    LABELS unit
    ENV ${sheets_env}
    TIMEOUT 120)
