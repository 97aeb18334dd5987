# The listing parsers: hand-written listings, and listings captured from the
# real servers at test time.
set(listing_dir ${CMAKE_CURRENT_LIST_DIR})
zarvel_test(listing_test SOURCES ${listing_dir}/listing_test.cpp
    LIBS zarvel_browser_core LABELS unit)
