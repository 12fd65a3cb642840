#pragma once

#include <QStringView>

#include <compare>

// Orders version texts the way people read them: "1.10" is newer than "1.9", "1.0" equals "1.0.0",
// and a pre-release tag ("1.0b2", "2.0-rc1") comes before the release it leads up to.
// Thread-safety: stateless; safe from any thread.
class VersionComparator {
  public:
    // A version is split into runs of digits and runs of letters; '.', '-', '_', '+' and white space
    // only separate them. Runs are compared in order: numbers by value (any length, no overflow),
    // letters case-insensitively, a number after a letter run. A missing run counts as the number 0.
    static std::weak_ordering compare(QStringView lhs, QStringView rhs);

    static bool isNewer(QStringView candidate, QStringView current) {
        return compare(candidate, current) > 0;
    }
};
