# Drags out of the browser and the bookmark list onto a real file manager
# (PCManFM, a folder and its Trash) on a virtual X server, against vsftpd;
# pictures: build/screenshots/drag-out-in-flight.png, drag-out-result.png and
# drag-out-trash-confirm.png.
add_executable(browser_drag_out_test ${CMAKE_CURRENT_LIST_DIR}/drag_out_test.cpp)
target_link_libraries(browser_drag_out_test PRIVATE zarvel_browse_testsupport GTest::gtest_main)
add_test(NAME browser_drag_out_test
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/drag_out.sh $<TARGET_FILE:browser_drag_out_test> ${CMAKE_BINARY_DIR})
set_tests_properties(browser_drag_out_test PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED vsftpd
    ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers;ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")
