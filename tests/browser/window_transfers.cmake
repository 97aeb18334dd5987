# Viewing, downloads and uploads through the real browser window against the
# real servers; pictures of the viewer and the transfer sheets.
if(NOT TARGET zarvel_browse_testsupport OR NOT TARGET zarvel_viewer)
    return()
endif()
foreach(server vsftpd sshd)
    zarvel_test(browser_transfer_${server}_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/browse_transfer_test.cpp
        LIBS zarvel_browse_testsupport FIXTURES ${server}
        ENV "ZARVEL_BROWSE_SERVER=${server}" "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp"
            ${browse_env}
        TIMEOUT 300)
endforeach()
add_dependencies(browser_transfer_sshd_test sftp)
