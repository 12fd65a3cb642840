#include "app/TrayIcon.h"

#include "app/AutostartEntry.h"
#include "app/ContentView.h"
#include "app/QuorvelApp.h"
#include "app/QuorvelAppRig.h"
#include "highlight/CursorHighlightWindow.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using namespace fakes;

class TrayIconTest : public testing::Test, protected QuorvelAppRig {
  protected:
    TrayIconTest()
        : app(overlay, settings, noTrust, usKeyboard,
              AutostartEntry(directory.filePath("autostart"), "lumarex --background")) {}

    TrayIcon& tray() { return app.trayIcon(); }
    QStringList menuTexts() {
        QStringList texts;
        for (QAction* action : tray().menu()->actions())
            texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
        return texts;
    }

    QuorvelApp app;
};

TEST_F(TrayIconTest, MenuNamesTheItemsOfTheIssueInOrder) {
    EXPECT_EQ(menuTexts(), QStringList({"Highlight Cursor", QString::fromUtf8("Settings\u2026"), "—",
                                        QString::fromUtf8("Check for Updates\u2026"), "Start at Login",
                                        "About Quorvel", "—", "&Quit"}));
    EXPECT_TRUE(tray().highlightAction()->isCheckable());
    // The application menu's own actions: enabled and checked alike in both places.
    const QList<QAction*> actions = tray().menu()->actions();
    EXPECT_EQ(actions[3], app.checkForUpdatesAction());
    EXPECT_EQ(actions[4], app.startAtLoginAction());
    EXPECT_TRUE(app.applicationMenu()->actions().contains(actions[5]));
    // Outside X11 the toolkit decides for good, when its first tray icon is made, whether the desktop has
    // a tray: nothing may make one before the tray icon is asked to show.
    EXPECT_EQ(tray().systemTrayIcon(), nullptr);
}

TEST_F(TrayIconTest, HighlightItemFollowsTheOverlayWhicheverWayItWasSwitched) {
    EXPECT_FALSE(tray().highlightAction()->isChecked());
    overlay.show(); // the shortcut, a command or the toolbar
    EXPECT_TRUE(tray().highlightAction()->isChecked());
    app.mainWindow()->highlightButton()->click(); // flag true → show again
    EXPECT_TRUE(tray().highlightAction()->isChecked());
    app.mainWindow()->highlightButton()->click();
    EXPECT_FALSE(tray().highlightAction()->isChecked());

    tray().highlightAction()->trigger();
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_TRUE(tray().highlightAction()->isChecked());
    tray().highlightAction()->trigger();
    EXPECT_FALSE(overlay.isVisible());
}

TEST_F(TrayIconTest, LeftClickTogglesAndOtherClicksDoNot) {
    tray().handleActivation(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_TRUE(tray().highlightAction()->isChecked());
    tray().handleActivation(QSystemTrayIcon::Context);
    tray().handleActivation(QSystemTrayIcon::MiddleClick);
    EXPECT_TRUE(overlay.isVisible());
    tray().handleActivation(QSystemTrayIcon::DoubleClick); // the second of two quick clicks
    EXPECT_FALSE(overlay.isVisible());
    tray().handleActivation(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(overlay.isVisible());
}

TEST_F(TrayIconTest, OnlyTheToolbarButtonReportsItsPresses) {
    QSignalSpy reports(app.mainWindow(), &ContentView::highlightButtonClicked);
    tray().handleActivation(QSystemTrayIcon::Trigger);
    tray().highlightAction()->trigger();
    tray().highlightAction()->trigger();
    EXPECT_EQ(reports.count(), 0);
    EXPECT_FALSE(app.mainWindow()->isHighlightEnabled()) << "the button's own flag is the button's";
    app.mainWindow()->highlightButton()->click();
    EXPECT_EQ(reports.count(), 1);
}

TEST_F(TrayIconTest, SettingsItemOpensTheWindow) {
    EXPECT_FALSE(app.mainWindow()->isVisible());
    tray().settingsAction()->trigger();
    EXPECT_TRUE(app.mainWindow()->isVisible());
}

TEST_F(TrayIconTest, StartAtLoginWritesAndRemovesTheEntryAndReadsItBack) {
    const AutostartEntry& entry = app.autostart();
    QAction* item = app.startAtLoginAction();
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(QFile::exists(entry.filePath()));
    item->trigger();
    EXPECT_FALSE(item->isChecked());
    EXPECT_FALSE(QFile::exists(entry.filePath()));

    // Edited by hand while the program runs: the next opening of either menu shows it.
    QString error;
    ASSERT_TRUE(entry.setEnabled(true, &error));
    emit tray().menu()->aboutToShow();
    EXPECT_TRUE(item->isChecked());
    QFile::remove(entry.filePath());
    emit app.applicationMenu()->aboutToShow();
    EXPECT_FALSE(item->isChecked());
}

TEST_F(TrayIconTest, StartAtLoginThatCannotBeWrittenSaysSoAndStaysOff) {
    QFile blocker(directory.filePath("autostart")); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    app.startAtLoginAction()->trigger();
    EXPECT_FALSE(app.startAtLoginAction()->isChecked());
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "startAtLoginError" && widget->isVisible())
            box = qobject_cast<QMessageBox*>(widget);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Lumarex could not turn on Start at Login.");
    EXPECT_TRUE(box->informativeText().contains("could not be made")) << box->informativeText().toStdString();
    box->close();
}

} // namespace
