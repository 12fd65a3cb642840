#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (what a session sends at logout, Ctrl+C in a terminal) into a call of
// `onSignal` on the GUI thread, so the program quits through its normal path: the command socket is
// removed and the analytics client shut down. The handler only writes a byte to a pipe, which is safe in
// a signal handler; the pipe is read when the event loop sees it readable. One instance per process;
// the signals' former handlers come back when it is destroyed.
// Thread-safety: GUI thread only.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // False when the pipe or a handler could not be set up; the signals then keep their default action.
    bool isInstalled() const { return installed_; }

  private:
    void readSignals();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
};
