# The window-free half of synchronisation. Local time is pinned to a zone one
# hour ahead of universal time in winter, so that time-base mistakes show.
zarvel_test(sync_core_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/plan_test.cpp ${CMAKE_CURRENT_LIST_DIR}/plan_property_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/cache_test.cpp ${CMAKE_CURRENT_LIST_DIR}/walk_test.cpp
    LIBS zarvel_sync_core LABELS unit ENV "TZ=Europe/Berlin" TIMEOUT 300)
