#pragma once

#include <QByteArray>
#include <QString>

// "Start at Login": the XDG autostart entry $XDG_CONFIG_HOME/autostart/<app id>.desktop,
// which runs `lumarex --background` when the desktop session starts. Whether it is on is read from the
// file every time it is asked, so it is right after a restart and after the file was edited by hand.
// Thread-safety: a plain value; the file system is the state.
class AutostartEntry {
  public:
    // `folder` defaults to $XDG_CONFIG_HOME/autostart; `command` to defaultCommand().
    explicit AutostartEntry(QString folder = defaultFolder(), QString command = defaultCommand());

    static QString defaultFolder();
    // `lumarex --background` when `lumarex` on $PATH is this program; else this program's full path, so a
    // copy run from its build folder starts itself.
    static QString defaultCommand();
    // `program --background` as an Exec value, the program quoted when it needs it.
    static QString execLine(const QString& program, bool onPath);

    QString folder() const { return folder_; }
    QString filePath() const;

    struct State {
        bool enabled = false;
        // Set when a file is there that cannot count as an entry, in words ("… is not a desktop entry").
        QString problem;
    };
    State read() const;

    // Writes or removes the entry. On failure returns false and says why in `error`.
    bool setEnabled(bool enabled, QString* error) const;

    // The entry as it is written.
    QByteArray content() const;

  private:
    QString folder_;
    QString command_;
};
