// The installed KWin effect on a headless KWin, driven with plain D-Bus calls as the application drives
// it, and checked in KWin's screenshots.
#include "kde/EffectBus.h"
#include "kde/EffectPlugins.h"
#include "kde/WaylandWindow.h"
#include "support/DBusSignalRecorder.h"
#include "support/KWinSession.h"

#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace std::chrono_literals;
using kdetest::kInterface;
using kdetest::kPath;
using kdetest::kService;
using kdetest::pixelAt;
using testsupport::DBusSignalRecorder;
using testsupport::KWinFakeInput;
using testsupport::KWinSession;
using testsupport::Rgb;

namespace {

constexpr auto kRedrawTimeout = 5s;
const Rgb kRed{255, 0, 0};

class KWinEffectTest : public testing::Test {
  protected:
    // What throws here would only skip the suite's tests, which ctest counts as passed: it is kept and
    // fails each test instead.
    static void SetUpTestSuite() {
        try {
            plugins_ = new kdetest::EffectPlugins;
            kwin_ = new KWinSession({.kwinrc = kdetest::kEnableEffect, .pluginDir = plugins_->dir()});
        } catch (const std::exception& error) {
            setUpError_ = error.what();
        }
    }

    static void TearDownTestSuite() {
        delete kwin_;
        delete plugins_;
        kwin_ = nullptr;
        plugins_ = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(setUpError_, "");
        ASSERT_NE(kwin_, nullptr);
        effect_ = std::make_unique<QDBusInterface>(kService, kPath, kInterface, kwin_->bus());
        ASSERT_TRUE(KWinSession::waitUntil([&] { return effect_->isValid(); }, 10s)) << kwin_->logTail();
        ASSERT_EQ(call("Hide").type(), QDBusMessage::ReplyMessage);
        ASSERT_EQ(call("SetLook", {"#FF0000", 0.3, 30.0, "#FF0000", 0.6, 40.0}).type(),
                  QDBusMessage::ReplyMessage);
        ASSERT_EQ(call("SetClicked", {false}).type(), QDBusMessage::ReplyMessage);
    }

    QDBusMessage call(const QString& method, const QVariantList& args = {}) {
        return effect_->callWithArgumentList(QDBus::Block, method, args);
    }

    // Waits until the screen at `point` shows `expected`; the last colour seen otherwise.
    static std::optional<Rgb> waitForPixel(QPoint point, Rgb expected, int tolerance = 3) {
        Rgb seen;
        const bool reached = KWinSession::waitUntil(
            [&] {
                const QImage shot = kwin_->screenshot();
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

    static inline kdetest::EffectPlugins* plugins_ = nullptr;
    static inline KWinSession* kwin_ = nullptr;
    static inline std::string setUpError_;
    std::unique_ptr<QDBusInterface> effect_;
};

TEST_F(KWinEffectTest, AnswersWithItsVersionAndIntrospection) {
    EXPECT_EQ(effect_->property("Version").toString(), LUMAREX_VERSION);
    QDBusInterface introspectable(kService, kPath, "org.freedesktop.DBus.Introspectable", kwin_->bus());
    QDBusReply<QString> xml = introspectable.call("Introspect");
    ASSERT_TRUE(xml.isValid());
    EXPECT_TRUE(xml.value().contains("<interface name=\"" + kInterface + "\">")) << xml.value().toStdString();
}

TEST_F(KWinEffectTest, CircleFollowsThePointerAlsoOverAWaylandWindowAndNothingIsDrawnWhileHidden) {
    const QImage desktop = kwin_->screenshot();
    ASSERT_FALSE(desktop.isNull());
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);
    const auto expectCircleAt = [&](QPoint at, const QImage& hidden) {
        kwin_->input().moveTo(at.x(), at.y());
        EXPECT_EQ(waitForPixel(at, Rgb::over(kRed, 0.3, pixelAt(hidden, at))), std::nullopt)
            << "at " << at.x() << "," << at.y();
        // The base circle is 30 points across: 20 points off-centre is outside it.
        const QPoint outside = at + QPoint(20, 0);
        EXPECT_EQ(waitForPixel(outside, pixelAt(hidden, outside), 0), std::nullopt);
    };
    expectCircleAt({200, 300}, desktop);
    expectCircleAt({1100, 700}, desktop);

    kdetest::WaylandWindow window(*kwin_, "#00ff00");
    const QPoint overWindow(640, 400);
    ASSERT_EQ(call("Hide").type(), QDBusMessage::ReplyMessage);
    kwin_->input().moveTo(overWindow.x(), overWindow.y());
    ASSERT_EQ(waitForPixel(overWindow, {0, 255, 0}, 0), std::nullopt);
    const QImage withWindow = kwin_->screenshot();
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);
    expectCircleAt(overWindow + QPoint(10, -10), withWindow);

    ASSERT_EQ(call("Hide").type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(waitForPixel(overWindow + QPoint(10, -10), {0, 255, 0}, 0), std::nullopt);
    EXPECT_EQ(kwin_->screenshot(), withWindow) << "something is left on screen while hidden";
}

TEST_F(KWinEffectTest, LookChangeIsRedrawnAndOutOfRangeValuesAreRefused) {
    const QPoint at(500, 500);
    const QPoint rim = at + QPoint(25, 0); // outside 30 points, inside 60
    kwin_->input().moveTo(at.x(), at.y());
    const QImage hidden = kwin_->screenshot();
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);
    ASSERT_EQ(waitForPixel(at, Rgb::over(kRed, 0.3, pixelAt(hidden, at))), std::nullopt);

    ASSERT_EQ(call("SetLook", {"#0000FF", 1.0, 60.0, "#00FF00", 0.5, 80.0}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel(at, {0, 0, 255}, 0), std::nullopt);
    EXPECT_EQ(waitForPixel(rim, {0, 0, 255}, 0), std::nullopt);

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
    // None of them changed the look: the rim still shows the last good one.
    kwin_->input().moveTo(at.x() + 1, at.y());
    EXPECT_EQ(waitForPixel(rim + QPoint(1, 0), {0, 0, 255}, 0), std::nullopt);
}

TEST_F(KWinEffectTest, ClickCircleRisesAndFallsAndPressesAreReported) {
    const QPoint at(800, 300);
    const QPoint ring = at + QPoint(18, 0); // outside the 30-point base, inside the 40-point click circle
    kwin_->input().moveTo(at.x(), at.y());
    const Rgb under = pixelAt(kwin_->screenshot(), ring);
    DBusSignalRecorder pressed(kwin_->bus(), kService, kPath, kInterface, "LeftPressed");
    ASSERT_EQ(call("Show").type(), QDBusMessage::ReplyMessage);

    ASSERT_EQ(call("SetClicked", {true}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel(ring, Rgb::over(kRed, 0.6, under)), std::nullopt);
    ASSERT_EQ(call("SetClicked", {false}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(waitForPixel(ring, under, 0), std::nullopt);

    // A tap as short as the input allows is still reported, once, where it was made.
    kwin_->input().setButton(KWinFakeInput::kLeftButton, true);
    kwin_->input().setButton(KWinFakeInput::kLeftButton, false);
    ASSERT_TRUE(KWinSession::waitUntil([&] { return pressed.count() > 0; }, 5s));
    const QList<QVariant> args = pressed.received().front().arguments();
    EXPECT_EQ(QPoint(args.value(0).toInt(), args.value(1).toInt()), at);
    KWinSession::waitUntil([] { return false; }, 200ms);
    EXPECT_EQ(pressed.count(), 1);
}

TEST_F(KWinEffectTest, HidesWhenTheCallerLeavesTheBus) {
    const QString name = "lumarex-effect-owner";
    {
        QDBusConnection owner = QDBusConnection::connectToBus(kwin_->busAddress(), name);
        QDBusInterface effect(kService, kPath, kInterface, owner);
        ASSERT_EQ(effect.call("Show").type(), QDBusMessage::ReplyMessage);
        ASSERT_TRUE(effect_->property("Shown").toBool());
    }
    QDBusConnection::disconnectFromBus(name);
    EXPECT_TRUE(KWinSession::waitUntil([&] { return !effect_->property("Shown").toBool(); }, 1s));
}

} // namespace
