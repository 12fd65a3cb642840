#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ostream>

namespace testsupport {

// An 8-bit-per-channel screen colour, with the arithmetic a test needs to predict what the screen shows.
struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;

    static Rgb fromHex(std::uint32_t rgb) {
        return {static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>(rgb & 0xFF)};
    }

    // `source` painted with `alpha` (0…1) over `dest` (source-over).
    static Rgb over(Rgb source, double alpha, Rgb dest) {
        auto mix = [alpha](int s, int d) {
            return static_cast<int>(std::lround(s * alpha + d * (1.0 - alpha)));
        };
        return {mix(source.r, dest.r), mix(source.g, dest.g), mix(source.b, dest.b)};
    }

    // Largest per-channel difference.
    int distance(Rgb other) const {
        return std::max({std::abs(r - other.r), std::abs(g - other.g), std::abs(b - other.b)});
    }

    bool near(Rgb other, int tolerance) const { return distance(other) <= tolerance; }

    bool operator==(const Rgb&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, Rgb c) {
    return out << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
}

} // namespace testsupport
