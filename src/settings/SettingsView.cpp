#include "settings/SettingsView.h"

#include "highlight/HighlightSettings.h"
#include "lumarex/Product.h"
#include "platform/AccessibilityTrust.h"
#include "settings/KeyboardShortcutRecorder.h"
#include "settings/UsageReporting.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

namespace {

// How one circle's three looks are reached in the settings.
struct CircleBinding {
    QString name; // object-name prefix: "base" or "click"
    QString title;
    QColor (HighlightSettings::*color)() const;
    void (HighlightSettings::*setColor)(const QColor&);
    void (HighlightSettings::*colorChanged)(const QColor&);
    double (HighlightSettings::*opacity)() const;
    void (HighlightSettings::*setOpacity)(double);
    void (HighlightSettings::*opacityChanged)(double);
    double (HighlightSettings::*size)() const;
    void (HighlightSettings::*setSize)(double);
    void (HighlightSettings::*sizeChanged)(double);
};

const CircleBinding baseCircle{QStringLiteral("base"),
                               QStringLiteral("Base Circle"),
                               &HighlightSettings::baseColor,
                               &HighlightSettings::setBaseColor,
                               &HighlightSettings::baseColorChanged,
                               &HighlightSettings::baseOpacity,
                               &HighlightSettings::setBaseOpacity,
                               &HighlightSettings::baseOpacityChanged,
                               &HighlightSettings::baseSize,
                               &HighlightSettings::setBaseSize,
                               &HighlightSettings::baseSizeChanged};

const CircleBinding clickCircle{QStringLiteral("click"),
                                QStringLiteral("Click Effect"),
                                &HighlightSettings::clickColor,
                                &HighlightSettings::setClickColor,
                                &HighlightSettings::clickColorChanged,
                                &HighlightSettings::clickOpacity,
                                &HighlightSettings::setClickOpacity,
                                &HighlightSettings::clickOpacityChanged,
                                &HighlightSettings::clickSize,
                                &HighlightSettings::setClickSize,
                                &HighlightSettings::clickSizeChanged};

QLabel* headline(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

void makeSecondary(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

// Small text in the secondary colour, under the control it explains.
void makeCaption(QLabel* label) {
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    makeSecondary(label);
}

QFrame* section(const QString& name, QWidget* parent, bool separated = true) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setFrameShape(separated ? QFrame::StyledPanel : QFrame::NoFrame);
    return frame;
}

QIcon swatch(const QColor& colour) {
    QPixmap pixmap(40, 18);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    // A dark corner under the colour, so that its transparency shows.
    painter.fillRect(QRect(20, 0, 20, 18), QColor(0x40, 0x40, 0x40));
    painter.fillRect(pixmap.rect(), colour);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

// A filled yellow warning triangle with an exclamation mark.
QPixmap warningSymbol(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(size / 2.0, 0.5);
    triangle.lineTo(size - 0.5, size - 1.0);
    triangle.lineTo(0.5, size - 1.0);
    triangle.closeSubpath();
    painter.fillPath(triangle, QColor(0xFF, 0xCC, 0x00));
    painter.setPen(QPen(Qt::black, size / 8.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(size / 2.0, size * 0.38), QPointF(size / 2.0, size * 0.64));
    painter.drawPoint(QPointF(size / 2.0, size * 0.8));
    return pixmap;
}

// Fine enough to look continuous: a thousandth of the range per step.
constexpr int sliderSteps = 1000;

// A caption with the value at the right, formatted with `format`, and under them a continuous slider
// from `min` to `max`, both bound to one number of the settings.
QWidget* valueBlock(HighlightSettings& settings, QWidget* parent, const QString& caption, const QString& name,
                    double min, double max, const char* format, double (HighlightSettings::*get)() const,
                    void (HighlightSettings::*set)(double), void (HighlightSettings::*changed)(double)) {
    auto* block = new QWidget(parent);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(caption, block));
    row->addStretch(1);
    auto* value = new QLabel(block);
    value->setObjectName(name + "Value");
    makeSecondary(value);
    row->addWidget(value);
    column->addLayout(row);

    auto* slider = new QSlider(Qt::Horizontal, block);
    slider->setObjectName(name + "Slider");
    slider->setRange(0, sliderSteps);
    slider->setSingleStep(sliderSteps / 100);
    slider->setPageStep(sliderSteps / 10);
    column->addWidget(slider);

    auto show = [slider, value, min, max, format](double number) {
        value->setText(QString::asprintf(format, number));
        // Moving the knob to a model value must not write a rounded value back.
        const QSignalBlocker quiet(slider);
        slider->setValue(std::clamp(static_cast<int>(std::lround((number - min) / (max - min) * sliderSteps)),
                                    0, sliderSteps));
    };
    show((settings.*get)());
    QObject::connect(&settings, changed, block, show);
    QObject::connect(slider, &QSlider::valueChanged, block, [&settings, set, min, max](int position) {
        (settings.*set)(min + (max - min) * position / sliderSteps);
    });
    return block;
}

} // namespace

SettingsView::SettingsView(HighlightSettings& settings, AccessibilityTrust& trust, KeyTranslator& translator,
                           QWidget* parent)
    : QWidget(parent), settings_(settings), trust_(trust) {
    setObjectName("settingsView");
    // Our own title when shown alone, our window's when placed in one.
    setWindowTitle(title());
    window()->setWindowTitle(title());
    setMinimumWidth(380);
    auto* layout = new QVBoxLayout(this);
    saveProblem_ = new QLabel(this);
    saveProblem_->setObjectName("saveProblem");
    saveProblem_->setWordWrap(true);
    saveProblem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const auto showSaveProblem = [this](const QString& problem) {
        saveProblem_->setText(problem);
        saveProblem_->setVisible(!problem.isEmpty());
    };
    showSaveProblem(settings_.saveProblem());
    connect(&settings_, &HighlightSettings::saveProblemChanged, this, showSaveProblem);
    layout->addWidget(saveProblem_);
    layout->addWidget(makeCircleSection(false));
    layout->addWidget(makeCircleSection(true));
    layout->addWidget(makeShortcutSection(translator));
    layout->addWidget(makeFooterSection());
    layout->addWidget(makeUsageReportingSection());
    layout->addStretch(1);
    // The recorder's button takes the width of its title.
    connect(&settings_, &HighlightSettings::toggleShortcutChanged, this,
            &SettingsView::scheduleGeometryReport);
}

QWidget* SettingsView::makeCircleSection(bool click) {
    const CircleBinding& circle = click ? clickCircle : baseCircle;
    QFrame* frame = section(circle.name + "Section", this);
    auto* column = new QVBoxLayout(frame);
    column->setSpacing(12);
    column->addWidget(headline(circle.title, frame));

    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(new QLabel(QStringLiteral("Color"), frame));
    colourRow->addStretch(1);
    auto* well = new QPushButton(frame);
    well->setObjectName(circle.name + "ColorWell");
    well->setToolTip(QStringLiteral("Color"));
    well->setIconSize(QSize(40, 18));
    well->setIcon(swatch((settings_.*circle.color)()));
    connect(&settings_, circle.colorChanged, well,
            [well](const QColor& colour) { well->setIcon(swatch(colour)); });
    connect(well, &QPushButton::clicked, this, [this, &circle] {
        openColorDialog((settings_.*circle.color)(),
                        [this, &circle](const QColor& colour) { (settings_.*circle.setColor)(colour); });
    });
    colourRow->addWidget(well);
    column->addLayout(colourRow);

    column->addWidget(valueBlock(settings_, frame, QStringLiteral("Opacity"), circle.name + "Opacity", 0.0,
                                 1.0, "%.2f", circle.opacity, circle.setOpacity, circle.opacityChanged));
    column->addWidget(valueBlock(settings_, frame, QStringLiteral("Size"), circle.name + "Size", 10.0, 100.0,
                                 "%.0f", circle.size, circle.setSize, circle.sizeChanged));
    return frame;
}

QWidget* SettingsView::makeShortcutSection(KeyTranslator& translator) {
    QFrame* frame = section(QStringLiteral("shortcutSection"), this);
    auto* column = new QVBoxLayout(frame);
    column->addWidget(headline(QStringLiteral("Keyboard Shortcuts"), frame));

    auto* items = new QVBoxLayout;
    items->setSpacing(12);
    recorder_ =
        new KeyboardShortcutRecorder(settings_, QStringLiteral("Toggle Highlight"), translator, frame);
    recorder_->setObjectName("shortcutRecorder");
    items->addWidget(recorder_);

    accessibilityWarning_ = new QWidget(frame);
    accessibilityWarning_->setObjectName("accessibilityWarning");
    auto* warning = new QVBoxLayout(accessibilityWarning_);
    warning->setContentsMargins(0, 0, 0, 0);
    warning->setSpacing(4);
    const AccessibilityTrust::Wording wording = trust_.wording();
    warning->addWidget(headline(wording.headline, accessibilityWarning_));
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 4, 0, 4);
    auto* symbol = new QLabel(accessibilityWarning_);
    symbol->setPixmap(warningSymbol(fontMetrics().height()));
    row->addWidget(symbol, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    auto* grant = new QLabel(wording.title, accessibilityWarning_);
    grant->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    texts->addWidget(grant);
    auto* only = new QLabel(wording.caption, accessibilityWarning_);
    makeCaption(only);
    texts->addWidget(only);
    row->addLayout(texts);
    row->addStretch(1);
    auto* button = new QPushButton(wording.button, accessibilityWarning_);
    button->setObjectName("grantPermissionButton");
    connect(button, &QPushButton::clicked, this, &SettingsView::requestAccessibility);
    row->addWidget(button, 0, Qt::AlignVCenter);
    warning->addLayout(row);
    items->addWidget(accessibilityWarning_);
    accessibilityWarning_->setVisible(!isAccessibilityEnabled_);

    column->addLayout(items);
    return frame;
}

QWidget* SettingsView::makeFooterSection() {
    QFrame* frame = section(QStringLiteral("footerSection"), this, false);
    auto* column = new QVBoxLayout(frame);
    auto* reset = new QPushButton(QStringLiteral("Reset to Defaults"), frame);
    reset->setObjectName("resetButton");
    connect(reset, &QPushButton::clicked, this, [this] { settings_.resetToDefaults(); });
    column->addWidget(reset, 0, Qt::AlignLeft);

    auto* row = new QHBoxLayout;
    auto* version = new QLabel(versionText(QCoreApplication::applicationVersion()), frame);
    version->setObjectName("versionLabel");
    row->addWidget(version, 0, Qt::AlignVCenter);
    row->addStretch(1);
    auto* rights = new QLabel(QStringLiteral("© 2026 %1").arg(product::maker), frame);
    rights->setObjectName("copyrightLabel");
    row->addWidget(rights, 0, Qt::AlignVCenter);
    column->addLayout(row);
    return frame;
}

QWidget* SettingsView::makeUsageReportingSection() {
    usageSection_ = section(QStringLiteral("usageReportingSection"), this);
    auto* column = new QVBoxLayout(usageSection_);
    column->addWidget(headline(QStringLiteral("Usage Reporting"), usageSection_));
    usageCheckBox_ = new QCheckBox(QStringLiteral("Send anonymous usage reports"), usageSection_);
    usageCheckBox_->setObjectName("usageReportingCheckBox");
    // clicked, not toggled: only the user's choice is passed on, never the box following the state.
    connect(usageCheckBox_, &QCheckBox::clicked, this, &SettingsView::chooseUsageReporting);
    column->addWidget(usageCheckBox_);
    usageCaption_ = new QLabel(usageSection_);
    usageCaption_->setObjectName("usageReportingCaption");
    usageCaption_->setWordWrap(true);
    usageCaption_->setTextFormat(Qt::RichText);
    usageCaption_->setOpenExternalLinks(true);
    makeCaption(usageCaption_);
    column->addWidget(usageCaption_);
    usageNotSaved_ =
        new QLabel(QStringLiteral("Lumarex could not save this choice: it holds only until Lumarex quits."),
                   usageSection_);
    usageNotSaved_->setObjectName("usageReportingNotSaved");
    usageNotSaved_->setWordWrap(true);
    usageNotSaved_->hide();
    column->addWidget(usageNotSaved_);
    usageSection_->hide();
    return usageSection_;
}

void SettingsView::setUsageReporting(UsageReporting* reporting) {
    usageReporting_ = reporting;
    ++usageChoice_; // answers to choices made through an earlier one no longer count
    usageNotSaved_->hide();
    usageSection_->setVisible(reporting != nullptr);
    showUsageReporting();
    scheduleGeometryReport();
}

void SettingsView::showUsageReporting() {
    const bool switchable = usageReporting_ && usageReporting_->isSwitchable();
    usageCheckBox_->setEnabled(switchable);
    usageCheckBox_->setChecked(switchable && usageReporting_->isEnabled());
    // The README as published on the maker's site, at its section on usage reports.
    const QString details =
        QStringLiteral(" <a href=\"%1/lumarex/#usage-reporting\">Details</a>").arg(product::webSite);
    usageCaption_->setText((switchable
                                ? QStringLiteral("Sent each minute: starts and Highlight Cursor presses.")
                                : QStringLiteral("Switched off by DO_NOT_TRACK in the environment.")) +
                           details);
    std::printf("Send anonymous usage reports: %s%s\n", usageCheckBox_->isChecked() ? "ticked" : "unticked",
                usageCheckBox_->isEnabled() ? "" : ", disabled");
    std::fflush(stdout);
}

void SettingsView::chooseUsageReporting(bool enabled) {
    if (!usageReporting_)
        return;
    const int choice = ++usageChoice_;
    usageReporting_->setEnabled(enabled, [view = QPointer(this), choice](bool stored) {
        if (!view || choice != view->usageChoice_)
            return;
        view->showUsageReporting();
        view->usageNotSaved_->setVisible(!stored);
        if (!stored)
            std::fprintf(stderr, "lumarex: the choice about usage reports could not be saved\n");
        view->scheduleGeometryReport();
    });
}

QString SettingsView::versionText(const QString& version) {
    return QStringLiteral("Version ") + (version.isEmpty() ? QStringLiteral("Unknown") : version);
}

void SettingsView::refreshAccessibilityStatus() {
    const bool trusted = trust_.isTrusted();
    std::printf("Accessibility permissions granted: %s\n", trusted ? "true" : "false");
    std::fflush(stdout);
    accessibilityWarning_->setVisible(!trusted);
    if (trusted != isAccessibilityEnabled_) {
        isAccessibilityEnabled_ = trusted;
        emit isAccessibilityEnabledChanged(trusted);
        scheduleGeometryReport();
    }
}

void SettingsView::requestAccessibility() {
    trust_.prompt(window());
    QTimer::singleShot(accessibilityRecheckMs, this, &SettingsView::refreshAccessibilityStatus);
}

void SettingsView::openColorDialog(const QColor& current, std::function<void(const QColor&)> apply) {
    if (colorDialog_)
        colorDialog_->reject();
    auto* dialog = new QColorDialog(current, this);
    dialog->setObjectName("colorDialog");
    dialog->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The circle follows the picker as it moves, as a colour well does; Cancel puts the old colour back.
    connect(dialog, &QColorDialog::currentColorChanged, this, [apply](const QColor& colour) {
        if (colour.isValid())
            apply(colour);
    });
    connect(dialog, &QDialog::rejected, this, [apply, current] { apply(current); });
    colorDialog_ = dialog;
    dialog->open();
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    window()->setWindowTitle(title());
    refreshAccessibilityStatus();
    scheduleGeometryReport();
}

bool SettingsView::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange)
        window()->setWindowTitle(title());
    return QWidget::event(event);
}

void SettingsView::scheduleGeometryReport() {
    if (geometryReportPending_ || qEnvironmentVariable("LUMAREX_TEST_GEOMETRY") != u"1")
        return;
    geometryReportPending_ = true;
    QTimer::singleShot(0, this, [this] {
        geometryReportPending_ = false;
        // Let pending layout passes settle first, so the numbers are the ones on screen.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        reportGeometry();
    });
}

void SettingsView::reportGeometry() const {
    auto print = [](const QString& name, const QRect& rect) {
        std::printf("geometry %s %d %d %d %d\n", qPrintable(name), rect.x(), rect.y(), rect.width(),
                    rect.height());
    };
    print(QStringLiteral("window"), window()->geometry());
    // The whole window's named controls, the toolbar's among them.
    for (QWidget* widget : window()->findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.isEmpty() || name.startsWith(u"qt_") || !widget->isVisible())
            continue;
        print(name, QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()));
        if (auto* slider = qobject_cast<QSlider*>(widget)) {
            QStyleOptionSlider option;
            option.initFrom(slider);
            option.orientation = slider->orientation();
            option.minimum = slider->minimum();
            option.maximum = slider->maximum();
            option.sliderPosition = slider->sliderPosition();
            option.sliderValue = slider->value();
            option.singleStep = slider->singleStep();
            option.pageStep = slider->pageStep();
            const QRect handle =
                slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
            print(name + "Handle", QRect(slider->mapToGlobal(handle.topLeft()), handle.size()));
        }
    }
    std::printf("geometry end\n");
    std::fflush(stdout);
}
