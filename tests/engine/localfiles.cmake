# The rules that keep local files safe.
zarvel_test(engine_local_files_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/local_files_test.cpp
    LIBS zarvel_engine LABELS unit)
