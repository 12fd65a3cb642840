#include "updates/VersionComparator.h"

#include <gtest/gtest.h>

#include <QString>

#include <random>

namespace {

int sign(std::weak_ordering order) {
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

TEST(VersionComparatorTest, OrdersVersionsAsPeopleReadThem) {
    struct Case {
        const char* lhs;
        const char* rhs;
        int expected;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},
        {"1.9", "1.10", -1},
        {"2", "1.99.99", 1},
        {"1.0", "1.0.0", 0},
        {"1", "1.0.0.0", 0},
        {"1.0.1", "1.0", 1},
        {"1.01", "1.1", 0},
        {"1.0b1", "1.0", -1},
        {"1.0-rc1", "1.0", -1},
        {"1.0b2", "1.0b10", -1},
        {"1.0a5", "1.0b1", -1},
        {"1.0B1", "1.0b1", 0},
        {"1.0b1", "1.0.1", -1},
        {"1.0rc1", "0.9", 1},
        {"123456789012345678901234567890", "123456789012345678901234567889", 1},
        {"99999999999999999999", "100000000000000000000", -1},
        {" 1.2 ", "1.2", 0},
        {"", "0", 0},
        {"", "0.1", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(VersionComparator::compare(QString::fromUtf8(c.lhs), QString::fromUtf8(c.rhs))),
                  c.expected)
            << c.lhs << " vs " << c.rhs;
    }
}

// Random versions drawn from a small alphabet so that equal and near-equal runs are frequent.
QString randomVersion(std::mt19937& random) {
    static const QString alphabet = QStringLiteral("0019.-ab");
    std::uniform_int_distribution<int> length(0, 8);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) - 1);
    QString text;
    for (int i = length(random); i > 0; --i)
        text.append(alphabet[pick(random)]);
    return text;
}

TEST(VersionComparatorTest, IsATotalPreorderOnRandomVersions) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 20000; ++round) {
        const QString a = randomVersion(random);
        const QString b = randomVersion(random);
        const QString c = randomVersion(random);
        const int ab = sign(VersionComparator::compare(a, b));
        const int bc = sign(VersionComparator::compare(b, c));
        const int ac = sign(VersionComparator::compare(a, c));
        ASSERT_EQ(sign(VersionComparator::compare(a, a)), 0) << a.toStdString();
        ASSERT_EQ(sign(VersionComparator::compare(b, a)), -ab) << a.toStdString() << " " << b.toStdString();
        if (ab <= 0 && bc <= 0) {
            ASSERT_LE(ac, 0) << a.toStdString() << " " << b.toStdString() << " " << c.toStdString();
        }
        if (ab == 0 && bc == 0) {
            ASSERT_EQ(ac, 0) << a.toStdString() << " " << b.toStdString() << " " << c.toStdString();
        }
    }
}

} // namespace
