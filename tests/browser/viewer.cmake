# The viewer: what its sheet draws for every image format, PDF documents and
# texts, files it cannot show, and the private folder viewed files pass through.
zarvel_test(browser_viewer_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/viewer_test.cpp
    LIBS zarvel_viewer zarvel_platform_ui_testing
    LABELS unit
    ENV "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources"
        "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/platform/ui/lsan.supp"
    TIMEOUT 120)

# Pictures under a virtual display: screenshots/viewer-image.png,
# viewer-pdf.png and viewer-text.png.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(browser_viewer_screenshot ${CMAKE_CURRENT_LIST_DIR}/viewer_screenshot.cpp)
target_link_libraries(browser_viewer_screenshot PRIVATE zarvel_viewer zarvel_platform_ui_testing Qt6::Widgets)
add_test(NAME browser_viewer_screenshot
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/support/sheet_shots.sh
            $<TARGET_FILE:browser_viewer_screenshot> ${CMAKE_BINARY_DIR} 800x560x24)
set_tests_properties(browser_viewer_screenshot PROPERTIES TIMEOUT 120
    ENVIRONMENT "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")
