#include "platform/compositor/CompositorPartTrust.h"

#include "platform/compositor/CompositorHighlightClient.h"

#include <QMessageBox>

#include <cstdio>

CompositorPartTrust::CompositorPartTrust(CompositorHighlightClient& client, QString expectedVersion,
                                         Texts texts, Fix fix)
    : client_(client), expectedVersion_(std::move(expectedVersion)), texts_(std::move(texts)),
      fix_(std::move(fix)) {}

bool CompositorPartTrust::isTrusted() {
    return problem().isEmpty();
}

QString CompositorPartTrust::problem() {
    const QString version = client_.version();
    if (version.isEmpty())
        return texts_.missing;
    if (version != expectedVersion_)
        return texts_.otherVersion.arg(version, expectedVersion_);
    return {};
}

bool CompositorPartTrust::prompt(QWidget* parent) {
    QString text = problem();
    if (text.isEmpty())
        return true;
    if (fix_) {
        const Remedy remedy = fix_();
        // Once the part runs, the settings window's next look at the trust clears the warning.
        if (remedy.active && (text = problem()).isEmpty())
            return true;
        if (!remedy.message.isEmpty())
            text = remedy.message;
    }
    std::fprintf(stderr, "lumarex: %s\n", qPrintable(text));
    if (!dialog_) {
        dialog_ = new QMessageBox(QMessageBox::Information, texts_.title, text, QMessageBox::Ok, parent);
        dialog_->setObjectName("accessibilityPrompt");
        dialog_->setAttribute(Qt::WA_DeleteOnClose);
        dialog_->setModal(false);
    }
    dialog_->setText(text);
    dialog_->show();
    dialog_->raise();
    return false;
}
