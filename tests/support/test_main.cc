#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_env.h"

int main(int argc, char** argv) {
    qvr_test::install_test_environment();
    testing::InitGoogleMock(&argc, argv);
    qvr_test::reset_after_each_case();
    return RUN_ALL_TESTS();
}
