# Synchronisation bookmarks: store and files, the window and its sheets, the
# conflict and summary sheets.
set(syncbk_env
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/platform/ui/lsan.supp"
    "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources"
    "LC_ALL=C")

zarvel_test(sync_bookmarks_store_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bookmarks_store_test.cpp
    LIBS zarvel_sync_bookmarks
    LABELS unit
    TIMEOUT 60)

# Looks at where the keyboard focus is through the widgets themselves.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
zarvel_test(sync_bookmarks_window_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bookmarks_window_test.cpp
    LIBS zarvel_sync_bookmarks zarvel_platform_ui_testing Qt6::Widgets
    LABELS unit
    ENV ${syncbk_env}
    TIMEOUT 120)

zarvel_test(sync_sheets_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sync_sheets_test.cpp
    LIBS zarvel_sync_sheets zarvel_platform_ui_testing
    LABELS unit
    ENV ${syncbk_env} "LC_ALL=de_DE.UTF-8"
    TIMEOUT 120)

# The window, the sheet, the question before an opened file runs, the
# conflict and the summary sheet for real under a virtual display; the
# pictures go to screenshots/ in the build folder.
add_executable(sync_bookmarks_screenshot ${CMAKE_CURRENT_LIST_DIR}/bookmarks_screenshot.cpp
                                         ${CMAKE_SOURCE_DIR}/tests/support/sheet_shots.cpp)
target_include_directories(sync_bookmarks_screenshot PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(sync_bookmarks_screenshot PRIVATE zarvel_sync_bookmarks zarvel_sync_sheets
                                                        zarvel_platform_ui_testing)
add_test(NAME sync_bookmarks_screenshot
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/support/sheet_shots.sh
            $<TARGET_FILE:sync_bookmarks_screenshot> ${CMAKE_BINARY_DIR} 1024x720x24)
set_tests_properties(sync_bookmarks_screenshot PROPERTIES TIMEOUT 120
    ENVIRONMENT "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")

# From the window to a whole run against sshd through our sftp tool.
if(TARGET zarvel_sync_status AND TARGET zarvel_browse_testsupport)
    zarvel_test(sync_bookmarks_run_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/bookmarks_run_test.cpp
        LIBS zarvel_sync_bookmarks zarvel_sync_status zarvel_browse_testsupport
        FIXTURES sshd
        ENV ${syncbk_env} "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp" "TZ=Europe/Berlin"
        TIMEOUT 300)
    add_dependencies(sync_bookmarks_run_test sftp)
endif()
