// The installed GNOME Shell extension on a headless Shell, driven with plain D-Bus calls as the
// application drives it, and checked in the Shell's screenshots.
#include "gnome/ExtensionBus.h"
#include "support/DBusSignalRecorder.h"
#include "support/GnomeShellSession.h"
#include "support/Rgb.h"
#include "support/StagedInstall.h"

#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>

using namespace std::chrono_literals;
using gnometest::kInterface;
using gnometest::kPath;
using gnometest::kService;
using gnometest::pixelAt;
using testsupport::DBusSignalRecorder;
using testsupport::GnomeShellSession;
using testsupport::Rgb;
using testsupport::StagedInstall;

namespace {

constexpr auto kRedrawTimeout = 5s;

class GnomeExtensionTest : public testing::Test {
  protected:
    // A failure is kept for SetUp to report: GoogleTest marks the tests of a suite whose set-up threw as
    // skipped, and ctest would count them as such, not as failed.
    static void SetUpTestSuite() {
        try {
            staged_ =
                new StagedInstall(LUMAREX_CMAKE_COMMAND, LUMAREX_BUILD_DIR, gnometest::extensionComponent());
            shell_ = new GnomeShellSession(
                {.extraDataDirs = {staged_->dataDir()}, .enabledExtensions = {LUMAREX_GNOME_EXTENSION_UUID}});
        } catch (const std::exception& error) {
            setUpError_ = error.what();
        }
    }

    static void TearDownTestSuite() {
        delete shell_;
        delete staged_;
        shell_ = nullptr;
        staged_ = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(setUpError_, "");
        ASSERT_NE(shell_, nullptr);
        extension_ = std::make_unique<QDBusInterface>(kService, kPath, kInterface, shell_->bus());
        ASSERT_TRUE(call("Hide").type() == QDBusMessage::ReplyMessage);
        ASSERT_EQ(call("SetLook", {"#FF0000", 0.3, 30.0, "#FF0000", 0.6, 40.0}).type(),
                  QDBusMessage::ReplyMessage);
        ASSERT_EQ(call("SetClicked", {false}).type(), QDBusMessage::ReplyMessage);
    }

    QDBusMessage call(const QString& method, const QVariantList& args = {}) {
        return extension_->callWithArgumentList(QDBus::Block, method, args);
    }

    // Waits until the screen at `point` shows `expected`; the last colour seen otherwise.
    static std::optional<Rgb> waitForPixel(QPoint point, Rgb expected, int tolerance = 8) {
        Rgb seen;
        const bool reached = GnomeShellSession::waitUntil(
            [&] {
                const QImage shot = shell_->screenshot();
                if (shot.isNull())
                    return false;
                seen = pixelAt(shot, point);
                return seen.near(expected, tolerance);
            },
            kRedrawTimeout);
        if (reached)
            return std::nullopt;
        return seen;
    }

    static Rgb background(QPoint point) { return pixelAt(shell_->screenshot(), point); }

    static inline StagedInstall* staged_ = nullptr;
    static inline GnomeShellSession* shell_ = nullptr;
    static inline std::string setUpError_;
    std::unique_ptr<QDBusInterface> extension_;
};

TEST_F(GnomeExtensionTest, AnswersWithItsVersionAndIntrospection) {
    EXPECT_EQ(extension_->property("Version").toString(), LUMAREX_VERSION);
    QDBusInterface introspectable(kService, kPath, "org.freedesktop.DBus.Introspectable", shell_->bus());
    QDBusReply<QString> xml = introspectable.call("Introspect");
    ASSERT_TRUE(xml.isValid());
    EXPECT_TRUE(xml.value().contains("<interface name=\"" + kInterface + "\">")) << xml.value().toStdString();
}

TEST_F(GnomeExtensionTest, CircleFollowsThePointerAndNothingIsDrawnWhileHidden) {
    const QImage hidden = shell_->screenshot();
    ASSERT_FALSE(hidden.isNull());
    const Rgb red{255, 0, 0};
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);
    const QPoint positions[] = {{200, 300}, {640, 400}, {1100, 700}};
    for (const QPoint at : positions) {
        shell_->movePointer(at.x(), at.y());
        const Rgb under = pixelAt(hidden, at);
        EXPECT_EQ(waitForPixel(at, Rgb::over(red, 0.3, under)), std::nullopt)
            << "at " << at.x() << "," << at.y();
        // The base circle is 30 points across: 20 points off-centre is outside it.
        const QPoint outside = at + QPoint(20, 0);
        EXPECT_EQ(waitForPixel(outside, pixelAt(hidden, outside), 2), std::nullopt);
    }
    ASSERT_EQ(call("Hide").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel({1100, 700}, pixelAt(hidden, {1100, 700}), 2), std::nullopt);
    // Around every place it was shown, the screen is as before (elsewhere the Shell may show a notice).
    const QImage after = shell_->screenshot();
    ASSERT_EQ(after.size(), hidden.size());
    for (const QPoint at : positions) {
        int changed = 0;
        for (int y = at.y() - 30; y <= at.y() + 30; ++y)
            for (int x = at.x() - 30; x <= at.x() + 30; ++x)
                changed += pixelAt(after, {x, y}).distance(pixelAt(hidden, {x, y})) > 2;
        EXPECT_EQ(changed, 0) << "around " << at.x() << "," << at.y();
    }
}

TEST_F(GnomeExtensionTest, SettingsChangeIsRedrawnAndOutOfRangeValuesAreRejected) {
    const QPoint at(500, 500);
    const QPoint rim = at + QPoint(25, 0); // outside 30 points, inside 60
    shell_->movePointer(at.x(), at.y());
    const Rgb under = background(at);
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(waitForPixel(at, Rgb::over({255, 0, 0}, 0.3, under)), std::nullopt);

    ASSERT_EQ(call("SetLook", {"#0000FF", 1.0, 60.0, "#00FF00", 0.5, 80.0}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel(at, {0, 0, 255}, 2), std::nullopt);
    EXPECT_EQ(waitForPixel(rim, {0, 0, 255}, 2), std::nullopt);

    const struct {
        const char* what;
        QVariantList args;
    } bad[] = {
        {"colour without #", {"0000FF", 1.0, 60.0, "#00FF00", 0.5, 80.0}},
        {"short colour", {"#0000FF", 1.0, 60.0, "#0F0", 0.5, 80.0}},
        {"opacity above 1", {"#0000FF", 1.5, 60.0, "#00FF00", 0.5, 80.0}},
        {"negative opacity", {"#0000FF", 1.0, 60.0, "#00FF00", -0.1, 80.0}},
        {"size below 10", {"#0000FF", 1.0, 5.0, "#00FF00", 0.5, 80.0}},
        {"size above 100", {"#0000FF", 1.0, 60.0, "#00FF00", 0.5, 101.0}},
        {"size not a number", {"#0000FF", 1.0, qQNaN(), "#00FF00", 0.5, 80.0}},
    };
    for (const auto& [what, args] : bad) {
        const QDBusMessage reply = call("SetLook", args);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << what;
        EXPECT_EQ(reply.errorName(), kInterface + ".Error.InvalidArgs") << what;
    }
    // A look that mixes a good colour with a bad size changed nothing either.
    EXPECT_EQ(waitForPixel(rim, {0, 0, 255}, 2), std::nullopt);
}

TEST_F(GnomeExtensionTest, ClickCircleRisesAndFallsAndPressesAreReported) {
    const QPoint at(800, 300);
    const QPoint ring = at + QPoint(18, 0); // outside the 30-point base, inside the 40-point click circle
    shell_->movePointer(at.x(), at.y());
    const Rgb under = background(ring);
    DBusSignalRecorder pressed(shell_->bus(), kService, kPath, kInterface, "LeftPressed");
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);

    ASSERT_EQ(call("SetClicked", {true}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel(ring, Rgb::over({255, 0, 0}, 0.6, under), 8), std::nullopt);
    ASSERT_EQ(call("SetClicked", {false}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel(ring, under, 2), std::nullopt);

    // A short press after two seconds without input, when the button is no longer polled: the press
    // itself wakes the poll. (The Shell sees Wayland clients' presses only by the button state.)
    GnomeShellSession::waitUntil([] { return false; }, 2s);
    shell_->setButton(GnomeShellSession::kLeftButton, true);
    GnomeShellSession::waitUntil([] { return false; }, 50ms);
    shell_->setButton(GnomeShellSession::kLeftButton, false);
    ASSERT_TRUE(GnomeShellSession::waitUntil([&] { return pressed.count() > 0; }, 2s));
    const QList<QVariant> args = pressed.received().front().arguments();
    EXPECT_EQ(QPoint(args.value(0).toInt(), args.value(1).toInt()), at);
}

TEST_F(GnomeExtensionTest, HidesWhenTheCallerLeavesTheBus) {
    const QString name = "lumarex-extension-owner";
    {
        QDBusConnection owner = QDBusConnection::connectToBus(shell_->busAddress(), name);
        QDBusInterface extension(kService, kPath, kInterface, owner);
        ASSERT_EQ(extension.call("Show").type(), QDBusMessage::ReplyMessage);
        ASSERT_TRUE(extension_->property("Shown").toBool());
    }
    QDBusConnection::disconnectFromBus(name);
    EXPECT_TRUE(GnomeShellSession::waitUntil([&] { return !extension_->property("Shown").toBool(); }, 1s));
}

} // namespace
