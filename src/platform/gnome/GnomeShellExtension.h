#pragma once

#include "platform/compositor/CompositorHighlightClient.h"

#include <QString>

// The application's end of the Lumarex GNOME Shell extension's session-bus interface
// (example.quorvel.Lumarex.Shell1): the compositor part's commands and press reports, plus the toggle
// shortcut, which the Shell binds. It keeps the recorded shortcut text whose accelerator it last sent, so
// that a shortcut press can be reported as that key press.
// Thread-safety: GUI thread only.
class GnomeShellExtension : public CompositorHighlightClient {
    Q_OBJECT

  public:
    static constexpr auto kService = "example.quorvel.Lumarex.Shell";
    static constexpr auto kPath = "/example/quorvel/Lumarex/Shell";
    static constexpr auto kInterface = "example.quorvel.Lumarex.Shell1";
    static constexpr auto kUuid = "lumarex@quorvel.example";

    explicit GnomeShellExtension(QDBusConnection bus, QObject* parent = nullptr);

    // `shortcutText` as recorded; its accelerator (empty for none) is what the extension binds.
    void setShortcut(const QString& shortcutText, const QString& accelerator);
    const QString& shortcutText() const { return shortcutText_; }

  signals:
    void shortcutPressed();

  private slots:
    void onShortcutPressed();

  private:
    QString shortcutText_;
};
