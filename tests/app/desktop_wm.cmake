# The program's windows on a real desktop: a virtual X server with a real
# window manager (openbox), windows placed against their parents and the
# screen, and the road of answering a closing sheet many times.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(app_desktop_wm_test ${CMAKE_CURRENT_LIST_DIR}/desktop_wm_test.cpp)
target_link_libraries(app_desktop_wm_test PRIVATE zarvel_sync_status zarvel_sync_bookmarks zarvel_browse_testsupport
                                                  GTest::gtest_main Qt6::Widgets)
add_test(NAME app_desktop_wm_test
    COMMAND xvfb-run -a -s "-screen 0 1024x768x24"
            sh ${CMAKE_SOURCE_DIR}/tests/support/with_wm.sh $<TARGET_FILE:app_desktop_wm_test>)
set_tests_properties(app_desktop_wm_test PROPERTIES TIMEOUT 900 FIXTURES_REQUIRED pyftpd
    ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers;QT_QPA_PLATFORM=xcb;ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources;ZARVEL_SCREENSHOTS=${CMAKE_BINARY_DIR}/screenshots")
