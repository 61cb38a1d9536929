// The entry point of every GoogleTest program here. A program in which a test was skipped exits
// 77, which CTest reports as skipped instead of passed; the reasons are in the output above.

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const int skipped = testing::UnitTest::GetInstance()->skipped_test_count();
    if (result == 0 && skipped > 0) {
        std::printf("SKIPPED: %d test(s); the reasons are above\n", skipped);
        return 77;
    }
    return result;
}
