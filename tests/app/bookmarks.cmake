# Connection bookmarks: cipher, store and files, windows.
zarvel_test(app_bookmarks_cipher_test
    SOURCES bookmarks_cipher_test.cpp
    LIBS zarvel_app
    LABELS unit
    TIMEOUT 60)

# Desktop entry and file types.
add_test(NAME app_bookmarks_desktop_test
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/bookmarks_desktop_test.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(app_bookmarks_desktop_test PROPERTIES TIMEOUT 60)

# The real program under a virtual display; the picture goes to
# screenshots/connect-window.png in the build folder.
add_test(NAME app_bookmarks_screenshot
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/screenshot.sh ${CMAKE_BINARY_DIR})
set_tests_properties(app_bookmarks_screenshot PROPERTIES TIMEOUT 120)

zarvel_test(app_bookmarks_store_test
    SOURCES bookmarks_store_test.cpp
    LIBS zarvel_app
    LABELS unit
    TIMEOUT 60)

zarvel_test(app_bookmarks_window_test
    SOURCES bookmarks_window_test.cpp
    LIBS zarvel_app zarvel_platform_ui_testing
    LABELS unit
    ENV "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources"
    TIMEOUT 120)

# The installed tree (staged with DESTDIR under another prefix) runs.
add_test(NAME app_install_test
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(app_install_test PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
