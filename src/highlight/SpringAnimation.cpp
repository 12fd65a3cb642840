#include "highlight/SpringAnimation.h"

#include <cmath>
#include <numbers>

// Critically damped motion towards target T with ω = 2π / response:
//   x(t) = T + (A + B·t)·e^(−ωt),  A = x0 − T,  B = v0 + ω·A
//   v(t) = (v0 − ω·B·t)·e^(−ωt)

SpringAnimation::SpringAnimation(double initialValue, double response)
    : m_omega(2.0 * std::numbers::pi / response), m_target(initialValue), m_startValue(initialValue) {}

void SpringAnimation::setTarget(double target, double now) {
    // Start from what callers saw (the snapped value once settled), so a retarget never jumps.
    const double x = value(now);
    const double v = velocity(now);
    m_startValue = x;
    m_startVelocity = v;
    m_startTime = now;
    m_target = target;
}

double SpringAnimation::elapsed(double now) const {
    // A clock reading from before the last retarget is treated as that moment.
    return now > m_startTime ? now - m_startTime : 0.0;
}

double SpringAnimation::rawValue(double now) const {
    const double t = elapsed(now);
    const double a = m_startValue - m_target;
    const double b = m_startVelocity + m_omega * a;
    return m_target + (a + b * t) * std::exp(-m_omega * t);
}

double SpringAnimation::rawVelocity(double now) const {
    const double t = elapsed(now);
    const double a = m_startValue - m_target;
    const double b = m_startVelocity + m_omega * a;
    return (m_startVelocity - m_omega * b * t) * std::exp(-m_omega * t);
}

bool SpringAnimation::isSettled(double now) const {
    return std::abs(rawValue(now) - m_target) < kValueEpsilon &&
           std::abs(rawVelocity(now)) < kVelocityEpsilon;
}

double SpringAnimation::value(double now) const {
    return isSettled(now) ? m_target : rawValue(now);
}

double SpringAnimation::velocity(double now) const {
    return isSettled(now) ? 0.0 : rawVelocity(now);
}
