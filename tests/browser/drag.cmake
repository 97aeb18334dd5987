# Drags out of the browser and the bookmark list onto a real file manager
# (PCManFM, a folder and its Trash) on a virtual X server, against vsftpd and
# sshd; pictures: build/screenshots/drag-out-in-flight.png, drag-out-result.png,
# drag-out-trash-confirm.png, drag-out-late-trash-confirm.png,
# drag-out-late-bookmark.png, drag-out-late-sync-bookmark.png and, for each
# server and place of the browser window, drag-out-SERVER-LEFT.png (LEFT: the
# window's left edge).
add_executable(browser_drag_out_test ${CMAKE_CURRENT_LIST_DIR}/drag_out_test.cpp)
target_link_libraries(browser_drag_out_test PRIVATE zarvel_browse_testsupport zarvel_sync_bookmarks
                                                    GTest::gtest_main)
add_dependencies(browser_drag_out_test sftp)
add_test(NAME browser_drag_out_test
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/drag_out.sh $<TARGET_FILE:browser_drag_out_test> ${CMAKE_BINARY_DIR})
set_tests_properties(browser_drag_out_test PROPERTIES TIMEOUT 480 FIXTURES_REQUIRED "vsftpd;sshd"
    ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers;ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources;ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp")
