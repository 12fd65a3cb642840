#include "support/KWinSession.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QRegularExpression>
#include <QVariantMap>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace testsupport {

namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 60s;
constexpr auto kStepTimeout = 15s;

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScreenShot = QStringLiteral("org.kde.KWin.ScreenShot2");

} // namespace

KWinSession::KWinSession(const Options& options)
    : CompositorSession({.className = "KWinSession", .compositor = "KWin", .folderPrefix = "lumarex-kwin",
                         .logName = "kwin.log"}) {
    // Where KWin composes without a GPU its own screenshot effect is unsupported; a test effect built for
    // that KWin (tests/support/kwin-capture) serves the same calls from there.
    const char* captureDir = std::getenv("LUMAREX_KWIN_CAPTURE_PLUGIN_PATH");
    std::string pluginPath = options.pluginDir.string();
    {
        std::ofstream kwinrc(homeDir() / ".config/kwinrc");
        kwinrc << options.kwinrc << '\n';
        if (captureDir && *captureDir) {
            kwinrc << "[Plugins]\nlumarex_captureEnabled=true\n";
            pluginPath += (pluginPath.empty() ? "" : ":") + std::string(captureDir);
        }
        std::ofstream(homeDir() / ".config/kxkbrc") << options.kxkbrc << '\n';
    }

    Environment env = clientEnvironment();
    env.erase("WAYLAND_DISPLAY");
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    // KWin 6 crashes at start-up when told it is in a full Plasma session, whose pieces this one lacks.
    env.erase("KDE_FULL_SESSION");
    env["LUMAREX_KWIN_LOG"] = logPath().string();
    env["LUMAREX_KWIN_SOCKET"] = kSocketName;
    env["LUMAREX_KWIN_SIZE"] =
        std::to_string(options.output.width()) + "x" + std::to_string(options.output.height());
    if (!pluginPath.empty())
        env["QT_PLUGIN_PATH"] = pluginPath;

    launch(std::string(LUMAREX_TEST_SUPPORT_DIR) + "/kwin-headless", env, /*ownProc=*/true);
    // The screenshot service is an effect, loaded after KWin's own name is taken.
    waitForServices({kKWin, kScreenShot}, kStartTimeout);
    // KWin's major version, which a Plasma session announces to its clients.
    const QDBusMessage support =
        bus().call(QDBusMessage::createMethodCall(kKWin, QStringLiteral("/KWin"), kKWin,
                                                  QStringLiteral("supportInformation")),
                   QDBus::Block, int(std::chrono::milliseconds(kStepTimeout).count()));
    const QRegularExpressionMatch version = QRegularExpression(QStringLiteral("KWin version: (\\d+)\\."))
                                                .match(support.arguments().value(0).toString());
    if (!version.hasMatch())
        fail("KWin did not tell its version");
    kwinMajorVersion_ = version.captured(1).toInt();
    const std::string socket = (runtimeDir() / kSocketName).string();
    if (!std::filesystem::exists(socket))
        fail("KWin made no Wayland socket " + socket);
    try {
        input_ = std::make_unique<KWinFakeInput>(namespaceInit(), socket, clientEnvironment());
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

Environment KWinSession::clientEnvironment() const {
    Environment env = sessionEnvironment("KDE", kSocketName);
    env["KDE_FULL_SESSION"] = "true";
    env["KDE_SESSION_VERSION"] = std::to_string(kwinMajorVersion_);
    env.erase("QT_PLUGIN_PATH");
    return env;
}

QImage KWinSession::screenshot() {
    return capture(QStringLiteral("CaptureWorkspace"), {});
}

QImage KWinSession::screenshot(QRect area) {
    return capture(QStringLiteral("CaptureArea"),
                   {area.x(), area.y(), uint(area.width()), uint(area.height())});
}

QImage KWinSession::capture(const QString& method, const QVariantList& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    // KWin writes the pixels into the pipe before it answers, so they are read while the call runs.
    QByteArray pixels;
    std::thread reader([readEnd = fds[0], &pixels] {
        char chunk[1 << 16];
        for (ssize_t n; (n = ::read(readEnd, chunk, sizeof chunk)) > 0;)
            pixels.append(chunk, n);
        ::close(readEnd);
    });
    QVariantMap results;
    bool answered = false;
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kScreenShot, QStringLiteral("/org/kde/KWin/ScreenShot2"), kScreenShot, method);
        call.setArguments(arguments);
        call << QVariantMap{{QStringLiteral("include-cursor"), false}}
             << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
        ::close(fds[1]);
        const QDBusMessage reply =
            bus().call(call, QDBus::Block, int(std::chrono::milliseconds(kStepTimeout).count()));
        answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
        if (answered)
            results = qdbus_cast<QVariantMap>(reply.arguments().front());
        // Our copies of the write end go with the messages, so the reader sees the end of the data.
    }
    reader.join();
    if (!answered)
        return {};
    const int width = results.value(QStringLiteral("width")).toInt();
    const int height = results.value(QStringLiteral("height")).toInt();
    const int stride = results.value(QStringLiteral("stride")).toInt();
    const auto format = QImage::Format(results.value(QStringLiteral("format")).toInt());
    if (width <= 0 || height <= 0 || pixels.size() < qsizetype(stride) * height)
        return {};
    // A deep copy: converting to the format it already has would keep pointing into `pixels`.
    return QImage(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride, format)
        .copy()
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace testsupport
