#include "platform/x11/X11AccessibilityTrust.h"

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11RawEventSelection.h"

#include <QFile>
#include <QMessageBox>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace {

// Xlib reports errors through one process-wide handler. While the probe's requests are answered we put
// our own in front: it takes the errors of those requests and hands every other one on.
struct ProbeTrap {
    unsigned long firstSerial = 0;
    unsigned long lastSerial = 0;
    bool refused = false;
    XErrorHandler previous = nullptr;
};
ProbeTrap* activeTrap = nullptr;

int trapProbeErrors(Display* display, XErrorEvent* error) {
    if (activeTrap && error->serial >= activeTrap->firstSerial && error->serial <= activeTrap->lastSerial) {
        activeTrap->refused = true;
        return 0;
    }
    return activeTrap && activeTrap->previous ? activeTrap->previous(display, error) : 0;
}

// "1" or "0" from the override file; anything else (no variable, no file, other text) leaves it to X.
int overrideAnswer() {
    const QByteArray path = qgetenv(X11AccessibilityTrust::overrideVariable);
    if (path.isEmpty())
        return -1;
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray content = file.read(16).trimmed();
    if (content == "1")
        return 1;
    if (content == "0")
        return 0;
    return -1;
}

} // namespace

X11AccessibilityTrust::X11AccessibilityTrust(X11Connection* connection) : connection_(connection) {}

X11AccessibilityTrust::~X11AccessibilityTrust() {
    if (dialog_)
        delete dialog_.data();
}

bool X11AccessibilityTrust::isTrusted() {
    if (const int answer = overrideAnswer(); answer >= 0)
        return answer == 1;
    // The server decides how far it trusts a client when it connects, so a yes holds for the connection's
    // life; only a no is asked again (the once-a-second poll then costs no round trip).
    if (!serverTrusted_)
        serverTrusted_ = serverAllowsRawKeyEvents();
    return serverTrusted_;
}

// Selects raw key presses on the root window for "all devices" and clears the selection again at once,
// then waits for the server's verdict. The key monitor selects per master keyboard, a different entry
// of the same window's masks, so the probe never disturbs it.
bool X11AccessibilityTrust::serverAllowsRawKeyEvents() {
    if (!connection_ || connection_->xinputOpcode() < 0)
        return false;
    Display* display = connection_->display();

    ProbeTrap trap;
    trap.firstSerial = NextRequest(display);
    trap.previous = XSetErrorHandler(trapProbeErrors);
    activeTrap = &trap;

    X11RawEventSelection::select(display, connection_->rootWindow(), XIAllDevices, {XI_RawKeyPress});
    X11RawEventSelection::select(display, connection_->rootWindow(), XIAllDevices, {});
    trap.lastSerial = NextRequest(display) - 1;
    XSync(display, False);

    activeTrap = nullptr;
    XSetErrorHandler(trap.previous);
    // The round trip may have queued events that the socket notifier will not announce.
    connection_->flush();
    return !trap.refused;
}

QString X11AccessibilityTrust::promptTitle() {
    return QStringLiteral("Keyboard Shortcuts");
}

QString X11AccessibilityTrust::promptText() {
    return QStringLiteral(
        "Lumarex toggles the highlight with your keyboard shortcut in every application. To see key presses "
        "meant for other applications it needs the X server's Input extension (XInput 2.2 or later) and a "
        "connection the server trusts: not an untrusted forwarded connection (use \"ssh -Y\" rather than "
        "\"ssh -X\") and not a sandbox that hides other clients' input.\n\n"
        "Until then the shortcut works only while a Lumarex window is active. Once global shortcuts are "
        "possible, Lumarex offers to restart itself.");
}

bool X11AccessibilityTrust::prompt(QWidget* parent) {
    const bool trusted = isTrusted();
    if (trusted)
        return true;
    if (!dialog_) {
        dialog_ =
            new QMessageBox(QMessageBox::Information, promptTitle(), promptText(), QMessageBox::Ok, parent);
        dialog_->setObjectName("accessibilityPrompt");
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        dialog_->setModal(false);
    }
    dialog_->show();
    dialog_->raise();
    return false;
}
