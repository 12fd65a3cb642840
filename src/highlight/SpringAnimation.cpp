#include "highlight/SpringAnimation.h"

#include <cmath>
#include <numbers>

// Critically damped motion towards target T with ω = 2π / response:
//   x(t) = T + (A + B·t)·e^(−ωt),  A = x0 − T,  B = v0 + ω·A
//   v(t) = (v0 − ω·B·t)·e^(−ωt)

SpringAnimation::SpringAnimation(double initialValue, double response)
    : omega_(2.0 * std::numbers::pi / response), target_(initialValue), startValue_(initialValue) {}

void SpringAnimation::setTarget(double target, double now) {
    // Start from what callers saw (the snapped value once settled), so a retarget never jumps.
    const double x = value(now);
    const double v = velocity(now);
    startValue_ = x;
    startVelocity_ = v;
    startTime_ = now;
    target_ = target;
}

double SpringAnimation::elapsed(double now) const {
    // A clock reading from before the last retarget is treated as that moment.
    return now > startTime_ ? now - startTime_ : 0.0;
}

double SpringAnimation::rawValue(double now) const {
    const double t = elapsed(now);
    const double a = startValue_ - target_;
    const double b = startVelocity_ + omega_ * a;
    return target_ + (a + b * t) * std::exp(-omega_ * t);
}

double SpringAnimation::rawVelocity(double now) const {
    const double t = elapsed(now);
    const double a = startValue_ - target_;
    const double b = startVelocity_ + omega_ * a;
    return (startVelocity_ - omega_ * b * t) * std::exp(-omega_ * t);
}

bool SpringAnimation::isSettled(double now) const {
    return std::abs(rawValue(now) - target_) < kValueEpsilon && std::abs(rawVelocity(now)) < kVelocityEpsilon;
}

double SpringAnimation::value(double now) const {
    return isSettled(now) ? target_ : rawValue(now);
}

double SpringAnimation::velocity(double now) const {
    return isSettled(now) ? 0.0 : rawVelocity(now);
}
