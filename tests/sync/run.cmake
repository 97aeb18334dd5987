# Whole synchronisation runs against the real servers: a SyncRun whose sheets
# are scripted answers, the real connection, real trees on both sides.
if(TARGET zarvel_sync_window)
    foreach(server pyftpd vsftpd sshd proftpd pureftpd)
        zarvel_test(sync_run_${server}_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/run_test.cpp
            LIBS zarvel_sync_window zarvel_core_test_main FIXTURES ${server}
            ENV "ZARVEL_SYNC_SERVER=${server}" "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp"
                "TZ=Europe/Berlin"
            TIMEOUT 600)
        add_dependencies(sync_run_${server}_test sftp)
    endforeach()
endif()

# The same run against the scripted server: faults on demand, no fixture.
if(TARGET zarvel_sync_window)
    zarvel_test(sync_run_scripted_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/run_scripted_test.cpp
                ${CMAKE_SOURCE_DIR}/tests/engine/ftp_scripted_server.cpp
        LIBS zarvel_sync_window zarvel_core_test_main LABELS unit tsan TIMEOUT 120
        ENV "TSAN_OPTIONS=halt_on_error=1 suppressions=${CMAKE_SOURCE_DIR}/tests/engine/conn_tsan.supp")
    target_include_directories(sync_run_scripted_test PRIVATE ${CMAKE_SOURCE_DIR})
endif()
