# The listing parsers: hand-written listings, and listings captured from the
# real servers at test time.
set(listing_dir ${CMAKE_CURRENT_LIST_DIR})
zarvel_test(listing_test SOURCES ${listing_dir}/listing_test.cpp
    LIBS zarvel_browser_core LABELS unit)
foreach(server pyftpd vsftpd sshd)
    zarvel_test(listing_${server}_test
        SOURCES ${listing_dir}/listing_server_test.cpp
                ${CMAKE_SOURCE_DIR}/tests/tools/sftp_session.cpp
        LIBS zarvel_browser_core util FIXTURES ${server} TIMEOUT 300
        ENV "ZARVEL_LISTING_SERVER=${server}" "ZARVEL_SFTP_TOOL=$<TARGET_FILE:sftp>")
    target_include_directories(listing_${server}_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/tools)
    add_dependencies(listing_${server}_test sftp)
endforeach()
