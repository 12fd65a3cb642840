#include "app/AboutDialog.h"
#include "app/AutostartEntry.h"
#include "app/ContentView.h"
#include "app/QuorvelApp.h"
#include "app/QuorvelAppRig.h"
#include "highlight/CursorHighlightWindow.h"
#include "highlight/HighlightSettings.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace fakes;

class MainWindowTest : public testing::Test, protected QuorvelAppRig {
  protected:
    MainWindowTest()
        : app(overlay, settings, noTrust, usKeyboard,
              AutostartEntry(directory.filePath("autostart"), "lumarex --background")) {}

    QuorvelApp app;
};

TEST_F(MainWindowTest, ApplicationMenuHoldsAboutThenUpdatesThenStartAtLoginThenQuit) {
    const QList<QAction*> actions = app.applicationMenu()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_EQ(actions[0]->text(), "About Quorvel");
    EXPECT_EQ(actions[1]->text(), QString::fromUtf8("Check for Updates\u2026"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), "Start at Login");
    EXPECT_TRUE(actions[3]->isCheckable());
    EXPECT_TRUE(actions[4]->isSeparator());
    EXPECT_TRUE(actions[5]->text().contains("Quit"));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed()) << "closing the window leaves the program running";
}

TEST_F(MainWindowTest, AboutPanelNamesTheApplicationWithSmallSecondaryCredits) {
    app.showAboutPanel();
    auto* dialog = app.mainWindow()->findChild<AboutDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->findChild<QLabel*>("name")->text(), "Lumarex");
    const QLabel* credits = dialog->findChild<QLabel*>("credits");
    EXPECT_EQ(credits->text(), "A simple cursor highlighter for presentations");
    EXPECT_LT(credits->font().pointSizeF(), dialog->font().pointSizeF()) << "small print";
    EXPECT_NE(credits->palette().color(QPalette::WindowText), dialog->palette().color(QPalette::WindowText));
    EXPECT_FALSE(dialog->findChild<QLabel*>("icon")->pixmap().isNull());
    app.showAboutPanel();
    EXPECT_EQ(app.mainWindow()->findChildren<AboutDialog*>().size(), 1) << "one panel, brought forward";
}

TEST_F(MainWindowTest, HighlightButtonTogglesItsOwnFlagAndReportsEveryPress) {
    ContentView* window = app.mainWindow();
    QSignalSpy reports(window, &ContentView::highlightButtonClicked);
    QPushButton* button = window->highlightButton();
    EXPECT_EQ(button->text(), "Highlight Cursor");

    button->click();
    EXPECT_TRUE(window->isHighlightEnabled());
    EXPECT_TRUE(overlay.isVisible());
    button->click();
    EXPECT_FALSE(window->isHighlightEnabled());
    EXPECT_FALSE(overlay.isVisible());

    // The shortcut shows the overlay behind the button's back: the next press shows it again (one
    // monitor, not two) and the press after that hides it.
    overlay.show();
    button->click();
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(activePressWatches(), 1);
    button->click();
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_EQ(reports.count(), 4);
    EXPECT_EQ(button->text(), "Highlight Cursor") << "the label does not change with the state";
}

TEST_F(MainWindowTest, WindowCannotShrinkBelowItsContent) {
    ContentView* window = app.mainWindow();
    window->show();
    window->resize(20, 20);
    EXPECT_GE(window->width(), window->minimumSizeHint().width());
    EXPECT_GE(window->height(), window->minimumSizeHint().height());
    window->resize(2000, 1500);
    EXPECT_EQ(window->size(), QSize(2000, 1500));
}

TEST_F(MainWindowTest, CommandsFromOtherInvocationsDriveTheOverlay) {
    EXPECT_TRUE(app.perform("toggle"));
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_TRUE(app.perform("toggle"));
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_TRUE(app.perform("show"));
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_TRUE(app.perform("hide"));
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_TRUE(app.perform("ping")) << "a start at login asks whether one runs";
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_FALSE(app.perform("explode"));
}

TEST_F(MainWindowTest, SettingsCommandBringsTheWindowBack) {
    app.start(nullptr, false);
    EXPECT_FALSE(app.mainWindow()->isVisible()) << "--background opens no window";
    EXPECT_TRUE(app.perform("settings"));
    EXPECT_TRUE(app.mainWindow()->isVisible());
    app.mainWindow()->close();
    EXPECT_TRUE(app.perform("settings"));
    EXPECT_TRUE(app.mainWindow()->isVisible());
}

} // namespace
