# The program's windows on a real desktop: a virtual X server with a real
# window manager (openbox), windows placed against their parents and the
# screen, and the road of answering a closing sheet many times. Each test of
# the file runs as a shard of its own, so that they run side by side (every
# one on its own display); the "unit" label runs them under the sanitizers
# too, where a window read after it was freed is a report.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(app_desktop_wm_test ${CMAKE_CURRENT_LIST_DIR}/desktop_wm_test.cpp)
target_link_libraries(app_desktop_wm_test PRIVATE zarvel_sync_status zarvel_sync_bookmarks zarvel_browse_testsupport
                                                  GTest::gtest_main Qt6::Widgets)
set_property(GLOBAL APPEND PROPERTY ZARVEL_TESTS_unit app_desktop_wm_test)
set(desktop_wm_shards 5) # the placement test and four parts of the Returns
math(EXPR last_shard "${desktop_wm_shards} - 1")
foreach(shard RANGE ${last_shard})
    add_test(NAME app_desktop_wm_test_${shard}
        COMMAND sh ${CMAKE_SOURCE_DIR}/tests/support/with_x.sh --wm $<TARGET_FILE:app_desktop_wm_test>)
    set_tests_properties(app_desktop_wm_test_${shard} PROPERTIES TIMEOUT 900 FIXTURES_REQUIRED pyftpd
        LABELS "unit;wm"
        ENVIRONMENT "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers;QT_QPA_PLATFORM=xcb;ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources;ZARVEL_SCREENSHOTS=${CMAKE_BINARY_DIR}/screenshots;GTEST_TOTAL_SHARDS=${desktop_wm_shards};GTEST_SHARD_INDEX=${shard};LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
endforeach()
