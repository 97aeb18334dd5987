# Viewing, downloads and uploads through the real browser window against the
# real servers; pictures of the viewer and the transfer sheets.
foreach(server vsftpd sshd proftpd pureftpd)
    zarvel_test(browser_transfer_${server}_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/browse_transfer_test.cpp
        LIBS zarvel_browse_testsupport FIXTURES ${server}
        ENV "ZARVEL_BROWSE_SERVER=${server}" "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp"
            ${browse_env}
        TIMEOUT 300)
endforeach()
add_dependencies(browser_transfer_sshd_test sftp)

# Pictures under a virtual display: build/screenshots/browser-transfer-sheet.png
# and browser-collision-sheet.png.
add_executable(browser_transfer_screenshot ${CMAKE_CURRENT_LIST_DIR}/transfer_screenshot.cpp)
target_link_libraries(browser_transfer_screenshot PRIVATE zarvel_browse_testsupport)
add_test(NAME browser_transfer_screenshot_test
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/support/with_x.sh --screen 900x600x24
            $<TARGET_FILE:browser_transfer_screenshot> ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(browser_transfer_screenshot_test PROPERTIES TIMEOUT 240 FIXTURES_REQUIRED vsftpd
    ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers;QT_QPA_PLATFORM=xcb;ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")
