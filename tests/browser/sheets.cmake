# The browser toolbar and the sheets shared by the browser and the
# synchronisation windows.
set(sheets_env
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/platform/ui/lsan.supp"
    "ZARVEL_RESOURCES=${CMAKE_SOURCE_DIR}/resources/Resources")

zarvel_test(browser_sheets_test
    SOURCES operation_sheets_test.cpp progress_sheets_test.cpp toolbar_test.cpp
    LIBS zarvel_sheets
    LABELS unit
    ENV ${sheets_env}
    TIMEOUT 120)
