#include "VersionComparator.h"

#include <QChar>

#include <optional>

namespace {

// One run of a version text. Kept as views into the caller's text so comparing allocates nothing.
struct Run {
    bool numeric = false;
    QStringView text; // digits without leading zeros when numeric (may be empty for 0)
};

bool isSeparator(QChar c) {
    return c == u'.' || c == u'-' || c == u'_' || c == u'+' || c.isSpace();
}

// Walks a version text run by run.
class RunReader {
  public:
    explicit RunReader(QStringView text) : text_(text) {}

    std::optional<Run> next() {
        while (pos_ < text_.size() && isSeparator(text_[pos_]))
            ++pos_;
        if (pos_ >= text_.size())
            return std::nullopt;
        const qsizetype start = pos_;
        const bool numeric = isAsciiDigit(text_[pos_]);
        while (pos_ < text_.size() && !isSeparator(text_[pos_]) && isAsciiDigit(text_[pos_]) == numeric)
            ++pos_;
        QStringView run = text_.sliced(start, pos_ - start);
        if (numeric) {
            qsizetype zeros = 0;
            while (zeros < run.size() && run[zeros] == u'0')
                ++zeros;
            run = run.sliced(zeros);
        }
        return Run{numeric, run};
    }

  private:
    static bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

    QStringView text_;
    qsizetype pos_ = 0;
};

std::weak_ordering compareNumbers(QStringView a, QStringView b) {
    // Both are digit strings without leading zeros: the longer one is larger, else compare digit by digit.
    if (a.size() != b.size())
        return a.size() <=> b.size();
    const int c = a.compare(b);
    return c <=> 0;
}

std::weak_ordering compareRuns(const std::optional<Run>& a, const std::optional<Run>& b) {
    // A missing run behaves like the number 0, so "1.0" == "1.0.0" and "1.0" > "1.0b1".
    static constexpr QStringView zero;
    const bool aNumeric = !a || a->numeric;
    const bool bNumeric = !b || b->numeric;
    if (aNumeric && bNumeric)
        return compareNumbers(a ? a->text : zero, b ? b->text : zero);
    if (aNumeric != bNumeric)
        return aNumeric ? std::weak_ordering::greater : std::weak_ordering::less;
    const int c = a->text.compare(b->text, Qt::CaseInsensitive);
    return c <=> 0;
}

} // namespace

std::weak_ordering VersionComparator::compare(QStringView lhs, QStringView rhs) {
    RunReader left(lhs);
    RunReader right(rhs);
    for (;;) {
        const std::optional<Run> a = left.next();
        const std::optional<Run> b = right.next();
        if (!a && !b)
            return std::weak_ordering::equivalent;
        const std::weak_ordering order = compareRuns(a, b);
        if (order != 0)
            return order;
    }
}
