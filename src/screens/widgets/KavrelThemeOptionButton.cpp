#include "screens/widgets/KavrelThemeOptionButton.h"

#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelFocusRing.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>


KavrelThemeOptionButton::KavrelThemeOptionButton(KavrelAppearanceMode mode, QWidget *parent)
    : QAbstractButton(parent), m_mode(mode), m_highlightAnimation(KavrelSpring(0.24, 0.86))
{
    const QString title = KavrelLocalizationStore::shared().localized(titleKey(mode));
    setText(title);
    setToolTip(title);
    setAccessibleName(title);
    // Checked is the chosen theme: a screen reader reads it as one choice of three.
    KavrelAccessibleFactory::registerButton(staticMetaObject, QAccessible::RadioButton);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(44);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont titleFont = font();
    titleFont.setPixelSize(11);
    titleFont.setWeight(QFont::DemiBold);
    setFont(titleFont);
    connect(&m_highlightAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_highlight = value.toDouble();
        update();
    });
}

QString KavrelThemeOptionButton::titleKey(KavrelAppearanceMode mode)
{
    switch (mode) {
    case KavrelAppearanceMode::system:
        return QStringLiteral("System");
    case KavrelAppearanceMode::light:
        return QStringLiteral("Light");
    case KavrelAppearanceMode::dark:
        return QStringLiteral("Dark");
    }
    return QString();
}

QString KavrelThemeOptionButton::symbol(KavrelAppearanceMode mode)
{
    switch (mode) {
    case KavrelAppearanceMode::system:
        return QStringLiteral("desktopcomputer");
    case KavrelAppearanceMode::light:
        return QStringLiteral("sun.max");
    case KavrelAppearanceMode::dark:
        return QStringLiteral("moon.fill");
    }
    return QString();
}

void KavrelThemeOptionButton::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    setChecked(selected);
    const double target = selected ? 1 : 0;
    m_highlightAnimation.stop();
    if (!isVisible()) {
        m_highlight = target;
        update();
        return;
    }
    m_highlightAnimation.setStartValue(m_highlight);
    m_highlightAnimation.setEndValue(target);
    m_highlightAnimation.start();
}

void KavrelThemeOptionButton::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (QWidget *parent = parentWidget()) {
            const QList<KavrelThemeOptionButton *> options =
                parent->findChildren<KavrelThemeOptionButton *>(QString(), Qt::FindDirectChildrenOnly);
            const qsizetype index = options.indexOf(this) + (event->key() == Qt::Key_Left ? -1 : 1);
            if (index >= 0 && index < options.size())
                options.at(index)->setFocus(Qt::TabFocusReason);
        }
        return;
    default:
        if (!KavrelButtonKeys::pressOnReturn(this, event))
            QAbstractButton::keyPressEvent(event);
    }
}

void KavrelThemeOptionButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    const QPainterPath tile = KavrelPainting::continuousRoundedRect(area, 17);
    const double highlight = std::clamp(m_highlight, 0.0, 1.0);
    if (highlight > 0) {
        painter.save();
        painter.setOpacity(highlight);
        KavrelPainting::drawSoftShadow(painter, tile, QColor(0, 0, 0, 20), 8, QPointF(0, 3));
        painter.fillPath(tile, KavrelSettingsTheme::selectedControlFill.resolve(palette()));
        painter.restore();
    }
    KavrelFocusRing::paint(painter, this, tile,
                           highlight > 0.5 ? KavrelSettingsTheme::selectedControlFill.resolve(palette()) : palette().color(QPalette::Window));
    // The accent fades in over the plain colour as the tile does.
    const qreal symbolSide = 17;
    const QFontMetricsF metrics(font());
    const qreal total = symbolSide + 3 + metrics.height();
    const qreal top = (height() - total) / 2;
    const QString title = metrics.elidedText(text(), Qt::ElideRight, width() - 8);
    auto drawContent = [&](const QColor &colour, double opacity) {
        painter.setOpacity(opacity);
        KavrelScreenSymbols::paint(painter, QRectF((width() - symbolSide) / 2, top, symbolSide, symbolSide), symbol(m_mode), colour);
        painter.setPen(colour);
        painter.drawText(QRectF(0, top + symbolSide + 3, width(), metrics.height()), Qt::AlignHCenter | Qt::AlignTop, title);
    };
    if (highlight < 1)
        drawContent(KavrelSettingsTheme::secondaryText.resolve(palette()), 1);
    if (highlight > 0)
        drawContent(KavrelSettingsTheme::accent.resolve(palette()), highlight);
}
