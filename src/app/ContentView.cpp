#include "app/ContentView.h"

#include "highlight/CursorHighlightWindow.h"
#include "highlight/HighlightSettings.h"
#include "lumarex/Product.h"
#include "platform/AccessibilityTrust.h"
#include "platform/KeyTranslator.h"
#include "settings/SettingsView.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace {

// A small chain-link glyph in the text colour, so the link reads the same in any icon theme.
QIcon linkIcon(const QColor& color) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 3.5, Qt::SolidLine, Qt::RoundCap));
    painter.translate(16, 16);
    painter.rotate(-45);
    painter.drawRoundedRect(QRectF(-14, -5, 16, 10), 5, 5);
    painter.drawRoundedRect(QRectF(-2, -5, 16, 10), 5, 5);
    return QIcon(pixmap);
}

} // namespace

ContentView::ContentView(CursorHighlightWindow& overlay, HighlightSettings& settings,
                         AccessibilityTrust& trust, KeyTranslator& translator, QWidget* parent)
    : QMainWindow(parent), overlay_(overlay), settings_(settings) {
    auto* toolbar = addToolBar(QStringLiteral("Toolbar"));
    toolbar->setObjectName("toolbar");
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar->addWidget(makeLink());
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    highlightButton_ = new QPushButton(QStringLiteral("Highlight Cursor"), toolbar);
    highlightButton_->setObjectName("highlightButton");
    highlightButton_->setCursor(Qt::PointingHandCursor);
    // The same look in both states: white text on the accent colour, corner radius 6.
    highlightButton_->setStyleSheet(QStringLiteral("QPushButton#highlightButton { color: white; "
                                                   "background-color: palette(highlight); border: none; "
                                                   "border-radius: 6px; padding: 4px 8px; }"
                                                   "QPushButton#highlightButton:pressed { "
                                                   "background-color: palette(dark); }"));
    connect(highlightButton_, &QPushButton::clicked, this, &ContentView::toggleHighlight);
    toolbar->addWidget(highlightButton_);

    // The body: the settings of the highlight, which also names the window.
    settingsView_ = new SettingsView(settings_, trust, translator, this);
    setCentralWidget(settingsView_);
}

QToolButton* ContentView::makeLink() {
    auto* link = new QToolButton(this);
    link->setObjectName("makerLink");
    link->setText(QString::fromUtf8(product::maker));
    link->setIcon(linkIcon(palette().color(QPalette::ButtonText)));
    link->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    link->setAutoRaise(true);
    link->setToolTip(QStringLiteral("Visit %1").arg(product::maker));
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &QToolButton::clicked, this, [] { QDesktopServices::openUrl(QUrl(product::webSite)); });
    return link;
}

void ContentView::toggleHighlight() {
    isHighlightEnabled_ = !isHighlightEnabled_;
    if (isHighlightEnabled_)
        overlay_.show();
    else
        overlay_.hide();
    emit highlightButtonClicked();
}
