# Connection, backends and the FTP worker: a stand-in worker for the message
# road, a scripted server for the faults, the real servers end to end.
set(conn_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(zarvel_conn_testsupport STATIC ${conn_dir}/conn_frontend.cpp)
target_link_libraries(zarvel_conn_testsupport PUBLIC zarvel_engine zarvel_testsupport GTest::gtest)
target_include_directories(zarvel_conn_testsupport PUBLIC ${CMAKE_SOURCE_DIR})
set(conn_libs zarvel_conn_testsupport zarvel_core_test_main zarvel_engine)
# Qt's event queue is invisible to ThreadSanitizer (see conn_tsan.supp).
set(conn_tsan "TSAN_OPTIONS=halt_on_error=1 suppressions=${conn_dir}/conn_tsan.supp")

zarvel_test(conn_backend_test SOURCES ${conn_dir}/conn_backend_test.cpp
    LIBS ${conn_libs} LABELS unit tsan ENV ${conn_tsan} TIMEOUT 120)
zarvel_test(conn_scripted_test
    SOURCES ${conn_dir}/conn_scripted_test.cpp ${conn_dir}/ftp_scripted_server.cpp
    LIBS ${conn_libs} LABELS unit tsan ENV ${conn_tsan} TIMEOUT 300)
zarvel_test(conn_worker_test
    SOURCES ${conn_dir}/worker_test.cpp ${conn_dir}/ftp_scripted_server.cpp
    LIBS ${conn_libs} LABELS unit tsan ENV ${conn_tsan} TIMEOUT 300)
foreach(server pyftpd vsftpd)
    zarvel_test(conn_${server}_test SOURCES ${conn_dir}/conn_server_test.cpp
        LIBS ${conn_libs} FIXTURES ${server} ENV "ZARVEL_FTP_SERVER=${server}" ${conn_tsan}
        LABELS tsan TIMEOUT 600)
endforeach()
# A thousand connections made and dropped: no thread or descriptor stays.
zarvel_test(conn_cycles_test SOURCES ${conn_dir}/conn_cycles_test.cpp
    LIBS ${conn_libs} LABELS tsan ENV ${conn_tsan} TIMEOUT 900)
