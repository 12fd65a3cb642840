#include "highlight/SpringAnimation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

TEST(SpringAnimationTest, RisesMonotonicallyWithoutOvershootAndSettles) {
    SpringAnimation spring(0.0, 0.3);
    spring.setTarget(1.0, 10.0);
    double previous = 0.0;
    for (int ms = 0; ms <= 1000; ++ms) {
        const double v = spring.value(10.0 + ms / 1000.0);
        ASSERT_GE(v, previous) << "at " << ms << " ms";
        ASSERT_LE(v, 1.0) << "at " << ms << " ms";
        previous = v;
    }
    // Closed form for a critically damped spring from rest: 1 − (1 + ωt)e^(−ωt); at t = 1/ω that is 1 − 2/e.
    const double omega = 2.0 * std::numbers::pi / 0.3;
    EXPECT_NEAR(spring.value(10.0 + 1.0 / omega), 1.0 - 2.0 / std::numbers::e, 1e-9);
    EXPECT_FALSE(spring.isSettled(10.1));
    EXPECT_TRUE(spring.isSettled(11.0));
    EXPECT_EQ(spring.value(11.0), 1.0);
    EXPECT_EQ(spring.velocity(11.0), 0.0);
    // A clock reading from before the retarget counts as the retarget moment.
    EXPECT_EQ(spring.value(9.0), 0.0);
}

TEST(SpringAnimationTest, RetargetMidFlightKeepsValueAndVelocity) {
    SpringAnimation spring;
    spring.setTarget(1.0, 0.0);
    const double t = 0.1;
    const double valueBefore = spring.value(t);
    const double velocityBefore = spring.velocity(t);
    ASSERT_GT(velocityBefore, 0.0);

    spring.setTarget(0.0, t);
    EXPECT_DOUBLE_EQ(spring.value(t), valueBefore);
    EXPECT_DOUBLE_EQ(spring.velocity(t), velocityBefore);
    // It keeps rising briefly, then turns back and comes to rest at 0 without undershooting.
    EXPECT_GT(spring.value(t + 0.005), valueBefore);
    for (int ms = 1; ms <= 1500; ++ms)
        ASSERT_GE(spring.value(t + ms / 1000.0), 0.0);
    EXPECT_TRUE(spring.isSettled(t + 1.5));
    EXPECT_EQ(spring.value(t + 1.5), 0.0);

    // Retargeting a settled spring starts from rest exactly at its old target.
    spring.setTarget(1.0, 5.0);
    EXPECT_EQ(spring.value(5.0), 0.0);
    EXPECT_EQ(spring.velocity(5.0), 0.0);
}
