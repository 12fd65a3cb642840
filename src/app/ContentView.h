#pragma once

#include <QMainWindow>

class AccessibilityTrust;
class CursorHighlightWindow;
class HighlightSettings;
class KeyTranslator;
class QPushButton;
class SettingsView;
class QToolButton;

// The main window: the settings in its body, and a toolbar with the maker's link and the button that
// switches the highlight on and off. Thread-safety: GUI thread only.
class ContentView : public QMainWindow {
    Q_OBJECT
  public:
    // `trust` and `translator` serve the shortcut recorder; they outlive the window.
    ContentView(CursorHighlightWindow& overlay, HighlightSettings& settings, AccessibilityTrust& trust,
                KeyTranslator& translator, QWidget* parent = nullptr);

    bool isHighlightEnabled() const { return isHighlightEnabled_; }
    QPushButton* highlightButton() const { return highlightButton_; }
    SettingsView* settingsView() const { return settingsView_; }

  signals:
    // After every press of the highlight button, whichever way it toggled.
    void highlightButtonClicked();

  private:
    void toggleHighlight();
    QToolButton* makeLink();

    CursorHighlightWindow& overlay_;
    HighlightSettings& settings_;
    QPushButton* highlightButton_ = nullptr;
    SettingsView* settingsView_ = nullptr;
    bool isHighlightEnabled_ = false;
};
