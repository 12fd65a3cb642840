#include "settings/SettingsView.h"

#include "highlight/HighlightSettings.h"
#include "platform/AccessibilityTrust.h"
#include "platform/x11/X11KeyTranslator.h"
#include "settings/KeyboardShortcutRecorder.h"
#include "settings/UsageReporting.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include "support/ReadOnlyFolder.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

// Trust that the test sets; a prompt grants it when `grantOnPrompt` says so, as a user would.
class FakeTrust : public AccessibilityTrust {
  public:
    bool isTrusted() override {
        ++queries;
        return trusted;
    }
    bool prompt(QWidget*) override {
        ++prompts;
        if (grantOnPrompt)
            trusted = true;
        return trusted;
    }
    bool trusted = false;
    bool grantOnPrompt = false;
    int queries = 0;
    int prompts = 0;
};

// Reporting as the client does it: each choice takes effect in order, later, and is then answered.
class FakeReporting : public UsageReporting {
  public:
    bool isSwitchable() const override { return switchable; }
    bool isEnabled() const override { return enabled; }
    void setEnabled(bool on, std::function<void(bool)> done) override {
        queued.push_back({on, std::move(done)});
    }
    // Carries out the oldest queued choice and answers it.
    void answer(bool stored) {
        auto [on, done] = std::move(queued.front());
        queued.pop_front();
        enabled = on;
        done(stored);
    }
    bool switchable = true;
    bool enabled = true;
    std::deque<std::pair<bool, std::function<void(bool)>>> queued;
};

class SettingsViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory.isValid());
        settings = std::make_unique<HighlightSettings>(directory.filePath("Lumarex.conf"));
    }

    SettingsView& makeView() {
        window = std::make_unique<QMainWindow>();
        view = new SettingsView(*settings, trust, translator, window.get());
        window->setCentralWidget(view);
        return *view;
    }

    template <typename T> T* child(const char* name) const {
        T* found = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }

    QVariant stored(const char* key) const {
        QSettings file(settings->fileName(), QSettings::IniFormat);
        return file.value(key);
    }

    QTemporaryDir directory;
    FakeTrust trust;
    X11KeyTranslator translator{"evdev", "pc105", "us"};
    std::unique_ptr<HighlightSettings> settings;
    std::unique_ptr<QMainWindow> window;
    SettingsView* view = nullptr;
};

} // namespace

TEST_F(SettingsViewTest, FreshSettingsShowDefaultsAndTheWindowIsNamed) {
    makeView();
    EXPECT_EQ(text("baseOpacityValue"), "0.30");
    EXPECT_EQ(text("baseSizeValue"), "30");
    EXPECT_EQ(text("clickOpacityValue"), "0.60");
    EXPECT_EQ(text("clickSizeValue"), "40");
    EXPECT_EQ(window->windowTitle(), "Cursor settings");
    EXPECT_EQ(view->recorder()->button()->text(), "Click here to record shortcut");
    EXPECT_EQ(view->recorder()->label()->text(), "Toggle Highlight");
    EXPECT_EQ(SettingsView::versionText(""), "Version Unknown");
    EXPECT_EQ(SettingsView::versionText("1.4.2"), "Version 1.4.2");
}

TEST_F(SettingsViewTest, SlidersWriteTheSettingsAndTheFileAtOnce) {
    makeView();
    auto* opacity = child<QSlider>("baseOpacitySlider");
    opacity->setValue(opacity->minimum());
    EXPECT_EQ(settings->baseOpacity(), 0.0);
    EXPECT_EQ(text("baseOpacityValue"), "0.00");
    // A stored 0 reads back as the default on the next launch, but it is written as 0.
    EXPECT_EQ(stored("baseOpacity").toDouble(), 0.0);

    auto* size = child<QSlider>("clickSizeSlider");
    size->setValue(size->maximum());
    EXPECT_DOUBLE_EQ(settings->clickSize(), 100.0);
    EXPECT_EQ(text("clickSizeValue"), "100");
    EXPECT_DOUBLE_EQ(stored("clickSize").toDouble(), 100.0);

    size->setValue((size->minimum() + size->maximum()) / 2);
    EXPECT_DOUBLE_EQ(settings->clickSize(), 55.0);
}

TEST_F(SettingsViewTest, ModelChangesShowWithoutBeingWrittenBackRounded) {
    makeView();
    settings->setBaseSize(37.6);
    EXPECT_EQ(text("baseSizeValue"), "38");
    settings->setClickOpacity(0.456);
    EXPECT_EQ(text("clickOpacityValue"), "0.46");
    // Moving the knobs to these values must not round them.
    EXPECT_DOUBLE_EQ(settings->baseSize(), 37.6);
    EXPECT_DOUBLE_EQ(stored("baseSize").toDouble(), 37.6);
    EXPECT_DOUBLE_EQ(settings->clickOpacity(), 0.456);
    // Values beyond the slider's range are shown as they are, and the knob stops at the end.
    settings->setBaseSize(250);
    EXPECT_EQ(text("baseSizeValue"), "250");
    EXPECT_EQ(child<QSlider>("baseSizeSlider")->value(), child<QSlider>("baseSizeSlider")->maximum());
    EXPECT_DOUBLE_EQ(settings->baseSize(), 250.0);
}

TEST_F(SettingsViewTest, ResetRestoresDefaultsClearsTheShortcutAndRewritesTheFile) {
    makeView();
    child<QSlider>("baseOpacitySlider")->setValue(900);
    child<QSlider>("clickSizeSlider")->setValue(0);
    settings->setBaseColor(QColor(0, 0, 255));
    settings->setToggleShortcut(QString::fromUtf8("⌘⇧H"));
    EXPECT_EQ(view->recorder()->button()->text(), QString::fromUtf8("⌘⇧H"));

    child<QPushButton>("resetButton")->click();
    EXPECT_EQ(text("baseOpacityValue"), "0.30");
    EXPECT_EQ(text("clickSizeValue"), "40");
    EXPECT_EQ(view->recorder()->button()->text(), "Click here to record shortcut");
    EXPECT_EQ(stored("toggleShortcut").toString(), "");
    EXPECT_EQ(stored("baseColor").toString(), "#FF0000");
    EXPECT_DOUBLE_EQ(stored("baseOpacity").toDouble(), 0.3);
    EXPECT_DOUBLE_EQ(stored("clickSize").toDouble(), 40.0);
    EXPECT_EQ(child<QSlider>("clickSizeSlider")->value(), 333); // (40 - 10) / 90 of the range
}

TEST_F(SettingsViewTest, WarningShowsUntilTheViewFindsTrustOnScreen) {
    trust.trusted = true;
    makeView();
    auto* warning = child<QWidget>("accessibilityWarning");
    EXPECT_FALSE(view->isAccessibilityEnabled());
    EXPECT_FALSE(warning->isHidden()) << "the warning shows until the view has come on screen";
    EXPECT_EQ(trust.queries, 0);
    window->show();
    EXPECT_EQ(trust.queries, 1);
    EXPECT_TRUE(view->isAccessibilityEnabled());
    EXPECT_TRUE(warning->isHidden());
    // Every showing asks again.
    trust.trusted = false;
    window->hide();
    window->show();
    EXPECT_EQ(trust.queries, 2);
    EXPECT_FALSE(warning->isHidden());
}

TEST_F(SettingsViewTest, GrantPermissionPromptsAndLooksAgainShortlyAfter) {
    trust.grantOnPrompt = true;
    makeView();
    window->show();
    auto* warning = child<QWidget>("accessibilityWarning");
    ASSERT_TRUE(warning->isVisible());
    QSignalSpy changed(view, &SettingsView::isAccessibilityEnabledChanged);
    child<QPushButton>("grantPermissionButton")->click();
    EXPECT_EQ(trust.prompts, 1);
    // The answer is read again later, not at once.
    EXPECT_FALSE(view->isAccessibilityEnabled());
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_TRUE(view->isAccessibilityEnabled());
    EXPECT_FALSE(warning->isVisible());
}

TEST_F(SettingsViewTest, ColourPickerOffersAlphaAppliesLiveAndCancelRestores) {
    makeView();
    window->show();
    child<QPushButton>("clickColorWell")->click();
    QColorDialog* dialog = view->colorDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    const QColor translucentGreen(0, 255, 0, 128);
    dialog->setCurrentColor(translucentGreen);
    EXPECT_EQ(settings->clickColor(), translucentGreen);   // alpha kept in memory
    EXPECT_EQ(stored("clickColor").toString(), "#00FF00"); // and dropped in the file
    dialog->reject();
    EXPECT_EQ(settings->clickColor().rgb(), QColor(255, 0, 0).rgb());
    EXPECT_EQ(stored("clickColor").toString(), "#FF0000");

    child<QPushButton>("baseColorWell")->click();
    ASSERT_TRUE(view->colorDialog());
    view->colorDialog()->setCurrentColor(QColor(0, 0, 255));
    view->colorDialog()->accept();
    EXPECT_EQ(stored("baseColor").toString(), "#0000FF");
    EXPECT_EQ(settings->clickColor().rgb(), QColor(255, 0, 0).rgb());
}

TEST_F(SettingsViewTest, UsageReportingBoxShowsTheStateInForce) {
    struct Case {
        const char* name;
        bool switchable, enabled;
        bool ticked, clickable;
        const char* caption;
    };
    const Case cases[] = {
        {"reporting", true, true, true, true, "Sent each minute: starts and Highlight Cursor presses."},
        {"opted out", true, false, false, true, "Sent each minute: starts and Highlight Cursor presses."},
        {"DO_NOT_TRACK", false, false, false, false, "Switched off by DO_NOT_TRACK in the environment."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeReporting reporting;
        reporting.switchable = c.switchable;
        reporting.enabled = c.enabled;
        makeView();
        EXPECT_TRUE(child<QWidget>("usageReportingSection")->isHidden()) << "nothing to switch yet";
        view->setUsageReporting(&reporting);
        EXPECT_FALSE(child<QWidget>("usageReportingSection")->isHidden());
        auto* box = child<QCheckBox>("usageReportingCheckBox");
        EXPECT_EQ(box->text(), "Send anonymous usage reports");
        EXPECT_EQ(box->isChecked(), c.ticked);
        EXPECT_EQ(box->isEnabled(), c.clickable);
        EXPECT_TRUE(text("usageReportingCaption").startsWith(QString::fromUtf8(c.caption)));
        EXPECT_TRUE(text("usageReportingCaption")
                        .contains("href=\"https://quorvel.example/lumarex/#usage-reporting\""));
        box->click();
        EXPECT_EQ(reporting.queued.size(), c.clickable ? 1u : 0u);
    }
}

TEST_F(SettingsViewTest, AChoiceThatIsNotStoredSaysSoOnceAndTheBoxKeepsTheStateInForce) {
    FakeReporting reporting;
    makeView();
    view->setUsageReporting(&reporting);
    auto* box = child<QCheckBox>("usageReportingCheckBox");
    auto* notSaved = child<QLabel>("usageReportingNotSaved");
    box->click();
    reporting.answer(false);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(notSaved->isHidden());
    EXPECT_EQ(notSaved->text(), "Lumarex could not save this choice: it holds only until Lumarex quits.");
    box->click();
    reporting.answer(true);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(notSaved->isHidden());
}

// Answers to earlier clicks come in after later clicks; only the last click's answer shows.
TEST_F(SettingsViewTest, QuickClicksEndInTheStateOfTheLastOne) {
    FakeReporting reporting;
    makeView();
    view->setUsageReporting(&reporting);
    auto* box = child<QCheckBox>("usageReportingCheckBox");
    box->click();
    box->click();
    ASSERT_EQ(reporting.queued.size(), 2u);
    EXPECT_FALSE(reporting.queued[0].first);
    EXPECT_TRUE(reporting.queued[1].first);
    reporting.answer(false);
    EXPECT_TRUE(box->isChecked()) << "the first answer must not undo the second click";
    EXPECT_TRUE(child<QLabel>("usageReportingNotSaved")->isHidden());
    reporting.answer(true);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(reporting.enabled);
}

TEST_F(SettingsViewTest, SettingsThatCannotBeSavedAreSaidAboveThem) {
    testsupport::ReadOnlyFolder folder(directory.filePath("readonly").toStdString());
    if (!folder.unavailable().empty())
        GTEST_SKIP() << folder.unavailable();
    ASSERT_TRUE(folder.seal());
    settings = std::make_unique<HighlightSettings>(directory.filePath("readonly/Lumarex.conf"));
    makeView();
    window->show();
    auto* problem = child<QLabel>("saveProblem");
    EXPECT_FALSE(problem->isVisible());

    child<QSlider>("baseSizeSlider")->setValue(child<QSlider>("baseSizeSlider")->maximum());
    EXPECT_TRUE(problem->isVisible());
    EXPECT_NE(problem->text().indexOf(settings->fileName()), -1) << problem->text().toStdString();
    EXPECT_EQ(text("baseSizeValue"), "100") << "the change holds while the program runs";
}
