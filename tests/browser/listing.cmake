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
    target_include_directories(listing_${server}_test PRIVATE ${CMAKE_SOURCE_DIR})
    add_dependencies(listing_${server}_test sftp)
endforeach()

# libFuzzer target over the three parsers and the conversion, built from the
# sources with coverage and sanitizers, run for a bounded time.
if(ZARVEL_FUZZ)
    set(fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
    add_executable(listing_fuzz ${listing_dir}/listing_fuzz.cpp
        ${CMAKE_SOURCE_DIR}/browser/core/Listing.cpp ${CMAKE_SOURCE_DIR}/engine/FTPDateManager.cpp)
    target_include_directories(listing_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(listing_fuzz PRIVATE ${fuzz_flags})
    target_link_options(listing_fuzz PRIVATE ${fuzz_flags})
    set(work ${CMAKE_CURRENT_BINARY_DIR}/fuzz-listing)
    add_test(NAME listing_fuzz
             COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                     UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
                     sh -c "rm -rf '${work}' && mkdir -p '${work}/corpus' && exec \"$0\" -seed=1 -max_total_time=30 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix='${work}/' '${work}/corpus' '${listing_dir}/listing_seeds'"
                     $<TARGET_FILE:listing_fuzz>)
    set_tests_properties(listing_fuzz PROPERTIES LABELS fuzz TIMEOUT 300)
    set_property(GLOBAL APPEND PROPERTY ZARVEL_TESTS_fuzz listing_fuzz)
endif()
