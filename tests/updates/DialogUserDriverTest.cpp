#include "updates/DialogUserDriver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>

namespace {

class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

QAbstractButton* buttonNamed(QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

UpdateCheckOutcome available() {
    UpdateCheckOutcome outcome;
    outcome.kind = UpdateCheckOutcome::Kind::UpdateAvailable;
    outcome.currentVersion = "1.0.0";
    outcome.update.version = "120";
    outcome.update.shortVersion = "1.2";
    outcome.update.enclosureUrl = QUrl("https://downloads.quorvel.example/Lumarex-1.2.tar.gz");
    outcome.update.releaseNotesUrl = QUrl("https://quorvel.example/notes/1.2");
    return outcome;
}

class DialogUserDriverTest : public ::testing::Test {
  protected:
    DialogUserDriverTest() { QDesktopServices::setUrlHandler("https", &opened, "open"); }
    ~DialogUserDriverTest() override { QDesktopServices::unsetUrlHandler("https"); }

    OpenedUrls opened;
    DialogUserDriver driver;
};

TEST_F(DialogUserDriverTest, NewVersionOffersDownloadAndLater) {
    driver.showOutcome(available());
    QMessageBox* box = driver.currentDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(box->text().contains("1.2")) << box->text().toStdString();
    EXPECT_TRUE(box->informativeText().contains("1.0.0"));
    ASSERT_NE(buttonNamed(box, "Later"), nullptr);
    QAbstractButton* download = buttonNamed(box, "Download");
    ASSERT_NE(download, nullptr);

    download->click();
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls.first(), QUrl("https://downloads.quorvel.example/Lumarex-1.2.tar.gz"));

    // Without a download, the release notes page is what opens; "Later" opens nothing.
    UpdateCheckOutcome notesOnly = available();
    notesOnly.update.enclosureUrl.clear();
    driver.showOutcome(notesOnly);
    buttonNamed(driver.currentDialog(), "Later")->click();
    EXPECT_EQ(opened.urls.size(), 1);
    driver.showOutcome(notesOnly);
    buttonNamed(driver.currentDialog(), "Download")->click();
    ASSERT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls.last(), QUrl("https://quorvel.example/notes/1.2"));
}

TEST_F(DialogUserDriverTest, UpToDateAndErrorsSayWhatHappened) {
    UpdateCheckOutcome upToDate;
    upToDate.kind = UpdateCheckOutcome::Kind::UpToDate;
    upToDate.currentVersion = "1.0.0";
    driver.showOutcome(upToDate);
    QPointer<QMessageBox> first = driver.currentDialog();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text(), "You're up to date!");
    EXPECT_TRUE(first->informativeText().contains("1.0.0"));

    // A newer answer replaces the box still on screen.
    driver.showOutcome(UpdateCheckOutcome::failed("The update server answered with HTTP status 500."));
    QApplication::processEvents();
    EXPECT_TRUE(first.isNull());
    QMessageBox* box = driver.currentDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_TRUE(box->informativeText().contains("HTTP status 500"));
    EXPECT_TRUE(opened.urls.isEmpty());
}

// Texts from the feed are shown as written: markup in them stays text and makes no link.
TEST_F(DialogUserDriverTest, FeedTextIsNeverRichText) {
    UpdateCheckOutcome hostile = available();
    hostile.update.shortVersion = "<a href=\"file:///etc/passwd\">1.2</a>";
    driver.showOutcome(hostile);
    QMessageBox* box = driver.currentDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    const QList<QLabel*> labels = box->findChildren<QLabel*>();
    bool shown = false;
    for (QLabel* label : labels) {
        if (!label->text().contains("file:///etc/passwd"))
            continue;
        shown = true;
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_TRUE(shown) << "the version text is on screen, markup and all";

    driver.showOutcome(UpdateCheckOutcome::failed("<b>redirected</b> to <a href=\"x:y\">here</a>"));
    bool reasonShown = false;
    for (QLabel* label : driver.currentDialog()->findChildren<QLabel*>()) {
        if (label->text().contains("redirected")) {
            reasonShown = true;
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_TRUE(reasonShown);
}

} // namespace

#include "DialogUserDriverTest.moc"
