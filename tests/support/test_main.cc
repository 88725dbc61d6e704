#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_env.h"

int main(int argc, char** argv) {
    qvr_test::install_test_environment();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
