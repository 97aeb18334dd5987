// Test main for tests that need the main event loop.
#include "platform/core/EventLoop.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    PPx::CoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
