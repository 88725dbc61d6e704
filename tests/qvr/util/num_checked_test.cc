#include "qvr/util/num.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

TEST(NumChecked, SaturatesAtTheSinglePrecisionRangeAndKeepsNaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(num_CheckedFloat(1e300), FLT_MAX);
    EXPECT_EQ(num_CheckedFloat(-1e300), -FLT_MAX);
    EXPECT_EQ(num_CheckedFloat(2.5), 2.5f);
    EXPECT_TRUE(std::isnan(num_CheckedFloat(std::nan(""))));

    EXPECT_EQ(num_AddChecked(FLT_MAX, FLT_MAX), FLT_MAX);
    EXPECT_EQ(num_SubtractChecked(-FLT_MAX, FLT_MAX), -FLT_MAX);
    EXPECT_EQ(num_MultiplyChecked(1e30f, -1e30f), -FLT_MAX);
    EXPECT_EQ(num_MultiplyChecked(3.0f, 0.5f), 1.5f);
    EXPECT_EQ(num_DivideChecked(1.0f, 0.0f), FLT_MAX);
    EXPECT_EQ(num_DivideChecked(-1.0f, 0.0f), -FLT_MAX);
    EXPECT_EQ(num_DivideChecked(1e-30f, 1e30f), 0.0f);
    EXPECT_EQ(num_NegateChecked(-FLT_MAX), FLT_MAX);
    EXPECT_EQ(num_AddChecked(inf, 1.0f), FLT_MAX);
    // The exact sum in double, not a float sum rounded twice.
    EXPECT_EQ(num_AddChecked(16777216.0f, 1.0f), 16777216.0f);

    EXPECT_TRUE(std::isnan(num_DivideChecked(0.0f, 0.0f)));
    EXPECT_TRUE(std::isnan(num_AddChecked(nan, 1.0f)));
    EXPECT_TRUE(std::isnan(num_MultiplyChecked(inf, 0.0f)));
    EXPECT_TRUE(std::isnan(num_NegateChecked(nan)));
}
