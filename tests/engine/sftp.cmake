# The SFTP road: the command layer against a scripted stand-in for the tool,
# and a Connection over the real tool and sshd.
set(sftp_dir ${CMAKE_CURRENT_LIST_DIR})
zarvel_test(sftp_engine_test SOURCES ${sftp_dir}/sftp_engine_test.cpp
    LIBS zarvel_engine zarvel_core_test_main LABELS unit TIMEOUT 120
    ENV "ZARVEL_FAKE_SFTP=${CMAKE_SOURCE_DIR}/tests/SSHTunnel/fake_sftp.py")
zarvel_test(sftp_server_test SOURCES ${sftp_dir}/sftp_server_test.cpp
    LIBS zarvel_conn_testsupport zarvel_core_test_main zarvel_engine FIXTURES sshd
    ENV "ZARVEL_SFTP_TOOL=${ZARVEL_LIBEXEC_DIR}/sftp"
        "TSAN_OPTIONS=halt_on_error=1 suppressions=${sftp_dir}/conn_tsan.supp"
    LABELS tsan TIMEOUT 600)
# The tool itself is what the test drives: build it with the test, also where
# only one label's tests are built.
add_dependencies(sftp_server_test sftp)
