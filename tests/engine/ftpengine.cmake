# The FTP engine: a scripted server for what real servers won't do, and the
# real servers (pyftpdlib, vsftpd) for the whole dialogue.
set(ftp_dir ${CMAKE_CURRENT_LIST_DIR})
zarvel_test(ftp_scripted_test
    SOURCES ${ftp_dir}/ftp_scripted_test.cpp ${ftp_dir}/ftp_scripted_server.cpp
    LIBS zarvel_engine LABELS unit tsan TIMEOUT 300)
foreach(server pyftpd vsftpd)
    zarvel_test(ftp_${server}_test SOURCES ${ftp_dir}/ftp_server_test.cpp
        LIBS zarvel_engine FIXTURES ${server} ENV "ZARVEL_FTP_SERVER=${server}" TIMEOUT 600)
endforeach()
