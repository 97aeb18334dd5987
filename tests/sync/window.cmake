# The real synchronisation-status window, offscreen, against the test servers:
# its sheets and alerts answered as a user would.
if(TARGET zarvel_sync_status AND TARGET zarvel_browse_testsupport)
    foreach(server pyftpd vsftpd sshd)
        zarvel_test(sync_window_${server}_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_test.cpp
            LIBS zarvel_sync_status zarvel_browse_testsupport FIXTURES ${server}
            ENV "ZARVEL_SYNC_SERVER=${server}" "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp"
                "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources"
                "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/platform/ui/lsan.supp"
                "TZ=Europe/Berlin"
            TIMEOUT 300)
        add_dependencies(sync_window_${server}_test sftp)
    endforeach()
endif()
