#pragma once

#include "platform/KeyMonitor.h"

#include <QObject>

// Local key monitor: an event filter on the application that sees each key press delivered to one of
// its windows and lets it go on to its target unchanged. Thread-safety: GUI thread only.
class ApplicationKeyMonitor : public QObject, public KeyMonitor {
    Q_OBJECT
  public:
    explicit ApplicationKeyMonitor(const KeyTranslator& translator, QObject* parent = nullptr);
    ~ApplicationKeyMonitor() override;

    bool start(Handler handler) override;
    void stop() override;
    // Whatever it sees was delivered here.
    bool applicationHasKeyboardFocus() override { return true; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const KeyTranslator& translator_;
    Handler handler_;
};
