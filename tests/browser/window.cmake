# The browser window: its texts, the real window against the three test
# servers, its life (redial, lost server, closing while busy) and pictures.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
set(browse_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(zarvel_browse_testsupport STATIC ${browse_dir}/browse_support.cpp)
target_link_libraries(zarvel_browse_testsupport PUBLIC zarvel_browser zarvel_testsupport zarvel_platform_ui_testing
                                                       GTest::gtest Qt6::Widgets)
target_include_directories(zarvel_browse_testsupport PUBLIC ${CMAKE_SOURCE_DIR})
set(browse_env "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")

zarvel_test(browser_text_test SOURCES ${browse_dir}/browse_text_test.cpp
    LIBS zarvel_browser LABELS unit TIMEOUT 60)

foreach(server pyftpd vsftpd sshd)
    zarvel_test(browser_window_${server}_test SOURCES ${browse_dir}/browse_window_test.cpp
        LIBS zarvel_browse_testsupport FIXTURES ${server}
        ENV "ZARVEL_BROWSE_SERVER=${server}" "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp"
            ${browse_env}
        LABELS unit TIMEOUT 300)
endforeach()
add_dependencies(browser_window_sshd_test sftp)

zarvel_test(browser_lifecycle_test SOURCES ${browse_dir}/browse_lifecycle_test.cpp
    LIBS zarvel_browse_testsupport zarvel_sync_bookmarks FIXTURES pyftpd
    ENV "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp" ${browse_env} LABELS unit TIMEOUT 300)
add_dependencies(browser_lifecycle_test sftp)

# Pictures under a virtual display: build/screenshots/browser-window.png,
# browser-context-menu.png, browser-rename-refused.png, and the redial sheet
# after a wrong password and a changed host key (browser-redial-password.png,
# browser-redial-host-key.png).
add_executable(browser_screenshot ${browse_dir}/browse_screenshot.cpp)
target_link_libraries(browser_screenshot PRIVATE zarvel_browse_testsupport)
add_dependencies(browser_screenshot sftp)
add_test(NAME browser_screenshot_test
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/support/with_x.sh --screen 900x600x24
            $<TARGET_FILE:browser_screenshot> ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(browser_screenshot_test PROPERTIES TIMEOUT 180
    FIXTURES_REQUIRED "pyftpd;sshd"
    ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers;QT_QPA_PLATFORM=xcb;ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources;ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp")

# The real program opens an exported bookmark file: the browser window
# appears on the server's folder (build/screenshots/program-browser.png).
add_executable(browser_make_bookmark ${browse_dir}/browse_make_bookmark.cpp)
target_link_libraries(browser_make_bookmark PRIVATE zarvel_app)
add_test(NAME browser_program_test
    COMMAND sh ${browse_dir}/browse_program.sh ${CMAKE_BINARY_DIR})
set_tests_properties(browser_program_test PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED pyftpd
    ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers")
