#include "Mounts.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Mounts made by the tests must not outlive this process, whatever happens to it.
    EnterPrivateMountNamespace();
    return RUN_ALL_TESTS();
}
