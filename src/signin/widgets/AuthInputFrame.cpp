#include "signin/widgets/AuthInputFrame.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/ThemedLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>

namespace {

constexpr int inputHeight = 50;
constexpr qreal cornerRadius = 12;

} // namespace

AuthInputFrame::AuthInputFrame(const QString &placeholderKey, int trailingPadding, QWidget *parent)
    : QWidget(parent)
    , m_lineEdit(new QLineEdit(this))
    , m_row(new QHBoxLayout(this))
{
    setFixedHeight(inputHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_row->setContentsMargins(15, 0, trailingPadding, 0);
    m_row->setSpacing(8);
    m_row->addWidget(m_lineEdit, 1);

    m_lineEdit->setFrame(false);
    m_lineEdit->setPlaceholderText(KavrelLocalizationStore::shared().localized(placeholderKey));
    m_lineEdit->setFont(ThemedLabel::font(16, QFont::Medium));
    m_lineEdit->installEventFilter(this);
    connect(m_lineEdit, &QLineEdit::textEdited, this, &AuthInputFrame::textEdited);
    applyTextColors();
}

QSize AuthInputFrame::sizeHint() const
{
    return QSize(320, inputHeight);
}

bool AuthInputFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lineEdit && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        m_focused = event->type() == QEvent::FocusIn;
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void AuthInputFrame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal lineWidth = m_focused ? 2.0 : 1.0;
    const QRectF box = QRectF(rect()).adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(box, cornerRadius);
    painter.fillPath(shape, KavrelSystemColors::textBackground.resolve(palette(), 0.82));
    const QColor border = m_focused ? SignInTheme::focusBorder.resolve(palette())
                                    : SignInTheme::separator.resolve(palette(), 0.55);
    painter.strokePath(shape, QPen(border, lineWidth));
}

void AuthInputFrame::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTextColors();
}

void AuthInputFrame::applyTextColors()
{
    // The field draws on the frame's background, in the screen's text colours.
    QPalette own = m_lineEdit->palette();
    const QColor text = KavrelSystemColors::label.resolve(palette());
    // Fainter than the text, yet still readable on the field: a placeholder is read too.
    const QColor placeholder = KavrelSystemColors::secondaryLabel.resolve(palette());
    if (own.color(QPalette::Text) == text && own.color(QPalette::PlaceholderText) == placeholder)
        return;
    own.setColor(QPalette::Base, Qt::transparent);
    own.setColor(QPalette::Text, text);
    own.setColor(QPalette::PlaceholderText, placeholder);
    m_lineEdit->setPalette(own);
}
