#include "highlight/HighlightSettings.h"

#include "lumarex/Product.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr auto kToggleShortcutKey = "toggleShortcut";
constexpr auto kBaseColorKey = "baseColor";
constexpr auto kBaseOpacityKey = "baseOpacity";
constexpr auto kBaseSizeKey = "baseSize";
constexpr auto kClickColorKey = "clickColor";
constexpr auto kClickOpacityKey = "clickOpacity";
constexpr auto kClickSizeKey = "clickSize";

// What an absent colour entry stands for.
constexpr auto kDefaultColorText = "#FF0000";

QColor opaqueRed() {
    return QColor(255, 0, 0);
}

// The colour the reset button restores: the toolkit's standard red.
QColor resetColor() {
    return QColor(Qt::red);
}

// Letters, digits and combining marks; everything else is trimmed off colour text.
bool isAlphanumeric(char32_t c) {
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

int hexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

qsizetype userPerceivedLength(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

// Leading hexadecimal digits with an optional "0x" prefix, as a number scanner reads them; 0 when none.
quint64 scanHex(const QString& text) {
    qsizetype i = 0;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X') &&
        hexDigitValue(text[2]) >= 0)
        i = 2;
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0)
            break;
        value = value > (~quint64{0} >> 4) ? ~quint64{0} : (value << 4) | quint64(digit);
    }
    return value;
}

int componentByte(quint16 component16) {
    // component16 / 65535 × 255, truncated; integer arithmetic keeps every 0…255 exact on a round trip.
    return int(quint32(component16) * 255u / 65535u);
}

} // namespace

HighlightSettings& HighlightSettings::shared() {
    static HighlightSettings* const instance = [] {
        const QSettings native(QSettings::NativeFormat, QSettings::UserScope, product::maker, product::name);
        return new HighlightSettings(native.fileName());
    }();
    return *instance;
}

HighlightSettings::HighlightSettings(const QString& filePath, QObject* parent)
    : QObject(parent), store_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {
    load();
}

HighlightSettings::~HighlightSettings() = default;

QString HighlightSettings::fileName() const {
    return store_->fileName();
}

void HighlightSettings::load() {
    QSettings& store = *store_;
    // Sections are parsed lazily; touching every key makes a malformed file show up in status().
    (void)store.allKeys();
    const QSettings::Status status = store.status();
    const bool unreadable = status != QSettings::NoError;
    QStringList badKeys;
    QStringList outOfRangeKeys;

    const auto readString = [&](const char* key) -> std::optional<QString> {
        if (unreadable || !store.contains(key))
            return std::nullopt;
        const QVariant value = store.value(key);
        if (value.typeId() == QMetaType::QString)
            return value.toString();
        badKeys << QString::fromLatin1(key);
        return std::nullopt;
    };
    const auto readNumber = [&](const char* key) -> std::optional<double> {
        if (unreadable || !store.contains(key))
            return std::nullopt;
        const QVariant value = store.value(key);
        bool ok = false;
        double number = 0.0;
        switch (value.typeId()) {
        case QMetaType::QString:
        case QMetaType::Double:
        case QMetaType::Float:
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            number = value.toDouble(&ok);
            break;
        default:
            break;
        }
        if (ok && std::isfinite(number))
            return number;
        badKeys << QString::fromLatin1(key);
        return std::nullopt;
    };
    const auto readColor = [&](const char* key) {
        return colorFromHex(readString(key).value_or(QString::fromLatin1(kDefaultColorText)))
            .value_or(opaqueRed());
    };
    // A hand-edited number outside what the window can set is drawn at the nearest value it can.
    const auto withinRange = [&](const char* key, double number, double min, double max) {
        const double bounded = std::clamp(number, min, max);
        if (bounded != number)
            outOfRangeKeys << QString::fromLatin1(key);
        return bounded;
    };
    // A stored opacity of 0 is a deliberate choice (an invisible circle) and is kept.
    const auto readOpacity = [&](const char* key, double fallback) {
        const std::optional<double> opacity = readNumber(key);
        return opacity ? withinRange(key, *opacity, 0.0, 1.0) : fallback;
    };
    // Sizes of 0 make no sense and fall back.
    const auto readSize = [&](const char* key, double fallback) {
        const std::optional<double> size = readNumber(key);
        return size && *size != 0.0 ? withinRange(key, *size, kMinSize, kMaxSize) : fallback;
    };

    toggleShortcut_ = readString(kToggleShortcutKey).value_or(QString());
    if (toggleShortcut_.size() > kMaxShortcutLength) {
        badKeys << QString::fromLatin1(kToggleShortcutKey);
        toggleShortcut_.clear();
    }
    baseColor_ = readColor(kBaseColorKey);
    baseOpacity_ = readOpacity(kBaseOpacityKey, kDefaultBaseOpacity);
    baseSize_ = readSize(kBaseSizeKey, kDefaultBaseSize);
    clickColor_ = readColor(kClickColorKey);
    clickOpacity_ = readOpacity(kClickOpacityKey, kDefaultClickOpacity);
    clickSize_ = readSize(kClickSizeKey, kDefaultClickSize);

    if (status == QSettings::FormatError)
        keepCopyOfBadFile(QStringLiteral("is malformed; using default settings"));
    else if (status == QSettings::AccessError)
        keepCopyOfBadFile(QStringLiteral("could not be read; using default settings"));
    else if (!badKeys.isEmpty() || !outOfRangeKeys.isEmpty()) {
        QStringList problems;
        if (!badKeys.isEmpty())
            problems
                << QStringLiteral("has invalid values for %1; using their defaults").arg(badKeys.join(u", "));
        if (!outOfRangeKeys.isEmpty())
            problems << QStringLiteral("has values out of range for %1; using the nearest allowed values")
                            .arg(outOfRangeKeys.join(u", "));
        keepCopyOfBadFile(problems.join(u"; "));
    }
}

// The next save rewrites the file, so the user's original goes aside first; if that is impossible we
// never write over it.
void HighlightSettings::keepCopyOfBadFile(const QString& problem) {
    const QString path = store_->fileName();
    QString outcome;
    if (!QFileInfo(path).isFile()) {
        if (QFileInfo::exists(path)) {
            canSave_ = false;
            outcome = QStringLiteral("settings will not be saved");
        } else {
            outcome = QStringLiteral("nothing to keep");
        }
    } else {
        const QString copy = path + QStringLiteral(".corrupt");
        QFile::remove(copy);
        if (QFile::copy(path, copy)) {
            outcome = QStringLiteral("the original was kept as %1").arg(copy);
        } else {
            canSave_ = false;
            outcome = QStringLiteral("it could not be copied aside, so settings will not be saved");
        }
    }
    const QString line = QStringLiteral("Lumarex: settings file %1 %2; %3\n").arg(path, problem, outcome);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    if (!canSave_)
        saveProblem_ = QStringLiteral("Settings are not saved: %1 could not be copied aside.").arg(path);
}

void HighlightSettings::setSaveProblem(const QString& problem) {
    if (problem == saveProblem_)
        return;
    saveProblem_ = problem;
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "Lumarex: %s Changes are kept until Lumarex quits.\n",
                     problem.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    emit saveProblemChanged(problem);
}

// QSettings says only that writing failed. It replaces the file through a new one beside it, so the file
// and its folder must both be writable; the system names the cause when either is not.
QString HighlightSettings::writeFailureCause() const {
    const QFileInfo file(store_->fileName());
    const QString folder = file.absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("its folder %1 cannot be created").arg(folder);
    for (const QString& path : {file.exists() ? file.absoluteFilePath() : folder, folder}) {
        if (::access(QFile::encodeName(path).constData(), W_OK) != 0)
            return QString::fromLocal8Bit(std::strerror(errno));
    }
    return QStringLiteral("writing failed (is the disk full?)");
}

void HighlightSettings::save() {
    if (!canSave_)
        return;
    QSettings& store = *store_;
    store.setValue(kToggleShortcutKey, toggleShortcut_);
    store.setValue(kBaseColorKey, hexFromColor(baseColor_));
    store.setValue(kBaseOpacityKey, baseOpacity_);
    store.setValue(kBaseSizeKey, baseSize_);
    store.setValue(kClickColorKey, hexFromColor(clickColor_));
    store.setValue(kClickOpacityKey, clickOpacity_);
    store.setValue(kClickSizeKey, clickSize_);
    store.sync();
    // Only a failed write counts: a format error of the file as loaded stays in status().
    if (store.status() != QSettings::AccessError)
        setSaveProblem(QString());
    else
        setSaveProblem(
            QStringLiteral("Settings cannot be saved to %1: %2.").arg(store.fileName(), writeFailureCause()));
}

// Every assignment, even of the value already held, is stored in full before anyone hears of it.
template <typename T, typename Notify>
void HighlightSettings::assign(T& field, const T& value, Notify notify) {
    field = value;
    save();
    emit(this->*notify)(field);
    emit changed();
}

void HighlightSettings::setBaseColor(const QColor& color) {
    assign(baseColor_, color, &HighlightSettings::baseColorChanged);
}

void HighlightSettings::setBaseOpacity(double opacity) {
    assign(baseOpacity_, opacity, &HighlightSettings::baseOpacityChanged);
}

void HighlightSettings::setBaseSize(double size) {
    assign(baseSize_, size, &HighlightSettings::baseSizeChanged);
}

void HighlightSettings::setClickColor(const QColor& color) {
    assign(clickColor_, color, &HighlightSettings::clickColorChanged);
}

void HighlightSettings::setClickOpacity(double opacity) {
    assign(clickOpacity_, opacity, &HighlightSettings::clickOpacityChanged);
}

void HighlightSettings::setClickSize(double size) {
    assign(clickSize_, size, &HighlightSettings::clickSizeChanged);
}

void HighlightSettings::setToggleShortcut(const QString& shortcut) {
    assign(toggleShortcut_, shortcut, &HighlightSettings::toggleShortcutChanged);
}

void HighlightSettings::resetToDefaults() {
    setToggleShortcut(QString());
    setBaseColor(resetColor());
    setBaseOpacity(kDefaultBaseOpacity);
    setBaseSize(kDefaultBaseSize);
    setClickColor(resetColor());
    setClickOpacity(kDefaultClickOpacity);
    setClickSize(kDefaultClickSize);
}

std::optional<QColor> HighlightSettings::colorFromHex(const QString& text) {
    const QList<uint> codePoints = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = codePoints.size();
    while (begin < end && !isAlphanumeric(codePoints[begin]))
        ++begin;
    while (end > begin && !isAlphanumeric(codePoints[end - 1]))
        --end;
    const QString trimmed =
        QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData() + begin), end - begin);

    if (userPerceivedLength(trimmed) != 6)
        return std::nullopt;
    const quint64 value = scanHex(trimmed);
    return QColor(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

QString HighlightSettings::hexFromColor(const QColor& color) {
    if (!color.isValid())
        return QStringLiteral("#000000");
    const QRgba64 rgb = color.toRgb().rgba64();
    return QString::asprintf("#%02X%02X%02X", componentByte(rgb.red()), componentByte(rgb.green()),
                             componentByte(rgb.blue()));
}
