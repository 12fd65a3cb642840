#pragma once

#include <QDialog>

// The About panel: the application's name, version, one line of credits and its icon.
// Thread-safety: GUI thread only.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr const char* credits = "A simple cursor highlighter for presentations";
    static constexpr double creditsScale = 11.0 / 13.0;

    explicit AboutDialog(QWidget* parent = nullptr);
};
