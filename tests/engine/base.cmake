# The engine's foundation: records, threads, sockets, dates, ASCII conversion.
zarvel_test(engine_records_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/records_test.cpp
    LIBS zarvel_engine LABELS unit)
zarvel_test(engine_socket_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/socket_test.cpp
    LIBS zarvel_engine LABELS unit TIMEOUT 120)
zarvel_test(engine_dates_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/dates_test.cpp
    LIBS zarvel_engine LABELS unit ENV "TZ=America/New_York")
zarvel_test(engine_ascii_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ascii_test.cpp
    LIBS zarvel_engine LABELS unit TIMEOUT 300)
zarvel_test(engine_thread_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/thread_test.cpp
    LIBS zarvel_engine LABELS unit tsan TIMEOUT 300)
zarvel_test(engine_inline_text_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/inline_text_test.cpp
    LIBS zarvel_engine LABELS unit)
