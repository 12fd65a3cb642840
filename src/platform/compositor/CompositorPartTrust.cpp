#include "platform/compositor/CompositorPartTrust.h"

#include "platform/compositor/CompositorHighlightClient.h"

#include <QMessageBox>

CompositorPartTrust::CompositorPartTrust(CompositorHighlightClient& client, QString expectedVersion, Texts texts,
                                         Loader load)
    : client_(client), expectedVersion_(std::move(expectedVersion)), texts_(std::move(texts)),
      load_(std::move(load)) {}

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
    if (load_ && text == texts_.missing) {
        if (!load_())
            text += QStringLiteral("\n\n") + texts_.refused;
        else if ((text = problem()).isEmpty())
            return true;
    }
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
