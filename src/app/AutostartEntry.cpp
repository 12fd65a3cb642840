#include "app/AutostartEntry.h"

#include "lumarex/Product.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

AutostartEntry::AutostartEntry(QString folder, QString command)
    : folder_(std::move(folder)), command_(std::move(command)) {}

QString AutostartEntry::defaultFolder() {
    // Honours $XDG_CONFIG_HOME, else ~/.config.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("autostart"));
}

QString AutostartEntry::defaultCommand() {
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("lumarex"));
    const bool sameProgram = !onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self;
    return execLine(sameProgram || self.isEmpty() ? QStringLiteral("lumarex") : self,
                    sameProgram || self.isEmpty());
}

QString AutostartEntry::execLine(const QString& program, bool onPath) {
    QString quoted = program;
    quoted.replace(u'%', QStringLiteral("%%"));
    bool plain = true;
    for (QChar c : program)
        if (!(c.isLetterOrNumber() || QStringLiteral("/._+-").contains(c)))
            plain = false;
    if (!plain && !onPath) {
        // The desktop entry's quoting: inside double quotes, ", `, $ and \ take a backslash; the file's
        // own escaping then doubles every backslash.
        QString inner;
        for (QChar c : quoted) {
            if (QStringLiteral("\"`$\\").contains(c))
                inner += u'\\';
            inner += c;
        }
        inner.replace(u'\\', QStringLiteral("\\\\"));
        quoted = u'"' + inner + u'"';
    }
    return quoted + QStringLiteral(" --background");
}

QString AutostartEntry::filePath() const {
    return QDir(folder_).filePath(QString::fromLatin1(product::appId) + QStringLiteral(".desktop"));
}

QByteArray AutostartEntry::content() const {
    QByteArray text = "[Desktop Entry]\n"
                      "Type=Application\n"
                      "Name=Lumarex\n"
                      "Comment=Highlights the mouse pointer\n";
    text += "Exec=" + command_.toUtf8() + "\n";
    text += QByteArray("Icon=") + product::appId + "\n";
    text += "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
    return text;
}

AutostartEntry::State AutostartEntry::read() const {
    State state;
    const QString path = filePath();
    QFile file(path);
    if (!file.exists())
        return state;
    if (!file.open(QIODevice::ReadOnly)) {
        state.problem = QStringLiteral("%1 cannot be read").arg(path);
        return state;
    }
    // The keys of the [Desktop Entry] group; the other groups (actions) do not matter here.
    bool inEntry = false;
    bool sawEntry = false;
    QString exec, type, hidden, gnomeEnabled;
    constexpr qint64 maxLength = 64 * 1024;
    const QList<QByteArray> lines = file.read(maxLength).split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]" && !sawEntry;
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == u"Exec")
            exec = value;
        else if (key == u"Type")
            type = value;
        else if (key == u"Hidden")
            hidden = value;
        else if (key == u"X-GNOME-Autostart-enabled")
            gnomeEnabled = value;
    }
    if (!sawEntry) {
        state.problem =
            QStringLiteral("%1 is not a desktop entry (it has no [Desktop Entry] group)").arg(path);
        return state;
    }
    if (exec.isEmpty()) {
        state.problem = QStringLiteral("%1 has no Exec line, so it starts nothing").arg(path);
        return state;
    }
    if (!type.isEmpty() && type != u"Application") {
        state.problem = QStringLiteral("%1 is of type %2, not an application").arg(path, type);
        return state;
    }
    // The desktop's own switch for an autostart entry (its session settings write these).
    state.enabled = hidden != u"true" && gnomeEnabled != u"false";
    return state;
}

bool AutostartEntry::setEnabled(bool enabled, QString* error) const {
    const QString path = filePath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        *error =
            QFileInfo(folder_).isWritable()
                ? QStringLiteral("%1 could not be removed").arg(path)
                : QStringLiteral("%1 could not be removed: the folder %2 is read-only").arg(path, folder_);
        return false;
    }
    if (!QDir().mkpath(folder_)) {
        *error = QStringLiteral("the folder %1 could not be made").arg(folder_);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content()) < 0 || !file.commit()) {
        *error =
            QFileInfo(folder_).isWritable()
                ? QStringLiteral("%1 could not be written").arg(path)
                : QStringLiteral("%1 could not be written: the folder %2 is read-only").arg(path, folder_);
        return false;
    }
    return true;
}
