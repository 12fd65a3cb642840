#pragma once

// A critically damped spring (damping fraction 1, so it never overshoots when starting from rest) that
// moves a value towards a target. Evaluated in closed form from the last retarget, so the result does not
// depend on how often it is sampled. Time is passed in by the caller as monotonic seconds.
// Thread-safety: none; one owner uses it from one thread.
class SpringAnimation {
  public:
    // `response` is the spring's period in seconds (stiffness = (2π / response)²).
    explicit SpringAnimation(double initialValue = 0.0, double response = 0.3);

    // Starts moving towards `target` from wherever the spring is at `now`, keeping its current velocity,
    // so an interrupted motion continues smoothly.
    void setTarget(double target, double now);

    double target() const { return target_; }
    // The value at `now`; exactly the target once settled.
    double value(double now) const;
    // Units per second at `now`; 0 once settled.
    double velocity(double now) const;
    // True when the value is within a visually negligible distance of the target and nearly at rest.
    bool isSettled(double now) const;

    static constexpr double kValueEpsilon = 1e-3;
    static constexpr double kVelocityEpsilon = 1e-2;

  private:
    double rawValue(double now) const;
    double rawVelocity(double now) const;
    double elapsed(double now) const;

    double omega_; // natural angular frequency, 2π / response
    double target_;
    double startValue_; // value and velocity at startTime_
    double startVelocity_ = 0.0;
    double startTime_ = 0.0;
};
