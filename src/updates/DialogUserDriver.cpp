#include "DialogUserDriver.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("DialogUserDriver", text);
}

} // namespace

DialogUserDriver::~DialogUserDriver() {
    if (dialog_)
        delete dialog_.data();
}

QMessageBox* DialogUserDriver::currentDialog() const {
    return dialog_.data();
}

void DialogUserDriver::showOutcome(const UpdateCheckOutcome& outcome) {
    // A new result replaces an older box that is still open, so only one answer is ever on screen.
    if (dialog_)
        delete dialog_.data();

    auto* box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    const QString appName = QCoreApplication::applicationName();

    switch (outcome.kind) {
    case UpdateCheckOutcome::Kind::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setWindowTitle(tr("Software Update"));
        box->setText(tr("You're up to date!"));
        box->setInformativeText(
            tr("%1 %2 is the newest version available.").arg(appName, outcome.currentVersion));
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case UpdateCheckOutcome::Kind::UpdateAvailable: {
        box->setIcon(QMessageBox::Information);
        box->setWindowTitle(tr("Software Update"));
        box->setText(tr("%1 %2 is available.").arg(appName, outcome.update.displayVersion()));
        box->setInformativeText(tr("You have version %1.").arg(outcome.currentVersion));
        QPushButton* download = box->addButton(tr("Download"), QMessageBox::AcceptRole);
        box->addButton(tr("Later"), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        const QUrl page = outcome.update.downloadPage();
        QObject::connect(download, &QPushButton::clicked, box, [page] { QDesktopServices::openUrl(page); });
        break;
    }
    case UpdateCheckOutcome::Kind::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setWindowTitle(tr("Software Update"));
        box->setText(tr("The update check failed."));
        box->setInformativeText(outcome.error);
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }

    // Versions and reasons come from the feed and the server: never let them render as rich text, with
    // links that would open whatever they name. The box's own switch covers only its main text.
    box->setTextFormat(Qt::PlainText);
    for (QLabel* label : box->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);

    dialog_ = box;
    box->show();
}
