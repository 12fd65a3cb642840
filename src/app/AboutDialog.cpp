#include "app/AboutDialog.h"

#include "app/ApplicationIcon.h"
#include "lumarex/Product.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About %1").arg(QString::fromUtf8(product::name)));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);

    auto* icon = new QLabel(this);
    icon->setObjectName("icon");
    // Drawn at the size it is shown, in device pixels, so it is sharp on a scaled desktop too.
    const qreal scale = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(ApplicationIcon::image(qRound(96 * scale)));
    pixmap.setDevicePixelRatio(scale);
    icon->setPixmap(pixmap);
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);

    auto* name = new QLabel(QString::fromUtf8(product::name), this);
    name->setObjectName("name");
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.3);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);

    auto* version = new QLabel(QStringLiteral("Version %1").arg(QApplication::applicationVersion()), this);
    version->setObjectName("version");
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);

    auto* creditsLabel = new QLabel(credits, this);
    creditsLabel->setObjectName("credits");
    // Small print: 11 points against the 13 of ordinary text on the first platform; the same
    // proportion of whatever the desktop's text size is here.
    QFont small = creditsLabel->font();
    small.setPointSizeF(small.pointSizeF() * creditsScale);
    creditsLabel->setFont(small);
    QPalette secondary = creditsLabel->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    creditsLabel->setPalette(secondary);
    creditsLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(creditsLabel);

    auto* rights = new QLabel(QStringLiteral("© 2026 %1").arg(product::maker), this);
    rights->setObjectName("rights");
    rights->setFont(small);
    rights->setAlignment(Qt::AlignCenter);
    layout->addWidget(rights);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
