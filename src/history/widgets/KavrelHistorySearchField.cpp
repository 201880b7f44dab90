#include "history/widgets/KavrelHistorySearchField.h"

#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelFocusLanding.h"
#include "kit/widgets/KavrelPainting.h"
#include "history/widgets/KavrelHistoryComponents.h"
#include "history/widgets/KavrelHistoryStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>

namespace Style = KavrelHistoryStyle;
namespace Theme = KavrelHistoryTheme;

namespace {

KavrelHistoryCardFrame::Look fieldLook()
{
    KavrelHistoryCardFrame::Look look;
    look.fill = Theme::elevatedFill;
    look.stroke = Theme::border;
    look.radius = 18;
    return look;
}

KavrelCapsuleButton *symbolButton(const QString &symbol, KavrelDynamicColor color, bool clickable)
{
    auto *button = new KavrelCapsuleButton;
    KavrelCapsuleButton::Look look;
    look.drawsBackground = false;
    look.foreground = color;
    look.symbolSize = 16;
    look.horizontalPadding = 0;
    button->setLook(look);
    button->setSymbol(symbol);
    button->setFixedContentSize(QSize(20, 20));
    button->setFocusPolicy(Qt::NoFocus);
    if (!clickable) {
        button->setAttribute(Qt::WA_TransparentForMouseEvents);
        button->setCursor(Qt::ArrowCursor);
    }
    return button;
}

} // namespace

KavrelHistorySearchField::KavrelHistorySearchField(QWidget *parent) : KavrelHistoryCardFrame(fieldLook(), parent)
{
    setFixedHeight(54);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(18, 0, 18, 0);
    row->setSpacing(12);
    m_searchSymbol = symbolButton(QStringLiteral("magnifyingglass"), Theme::searchIcon, false);
    row->addWidget(m_searchSymbol);

    m_lineEdit = new QLineEdit;
    m_lineEdit->setFrame(false);
    m_lineEdit->setFont(Style::font(18, QFont::Medium));
    m_lineEdit->setAttribute(Qt::WA_MacShowFocusRect, false);
    // The field's edge shows the keyboard is in it, not the caret alone.
    m_lineEdit->installEventFilter(this);
    row->addWidget(m_lineEdit, 1);

    m_clearButton = symbolButton(QStringLiteral("xmark.circle.fill"), Theme::tertiaryText, true);
    row->addWidget(m_clearButton);
    // The button goes with the text it clears; the keyboard goes back to the field.
    new KavrelFocusLanding(m_clearButton, {m_lineEdit});

    connect(m_lineEdit, &QLineEdit::textEdited, this, [this](const QString &text) {
        updateClearButton();
        Q_EMIT textEdited(text);
    });
    connect(m_clearButton, &QAbstractButton::clicked, this, [this] {
        m_lineEdit->clear();
        updateClearButton();
        Q_EMIT textEdited(QString());
    });
    retranslate();
    applyTextColor();
    updateClearButton();
}

QString KavrelHistorySearchField::text() const
{
    return m_lineEdit->text();
}

void KavrelHistorySearchField::setText(const QString &text)
{
    if (m_lineEdit->text() != text)
        m_lineEdit->setText(text);
    updateClearButton();
}

void KavrelHistorySearchField::retranslate()
{
    m_lineEdit->setPlaceholderText(Style::localized(QStringLiteral("Search transcript, translation, summary, or protocol")));
    m_lineEdit->setAccessibleName(Style::localized(QStringLiteral("Search history")));
    // The symbols are buttons to a screen reader: they are named by what they stand for.
    m_searchSymbol->setAccessibleName(m_lineEdit->placeholderText());
    m_clearButton->setAccessibleName(Style::localized(QStringLiteral("Clear search")));
}

void KavrelHistorySearchField::updateClearButton()
{
    m_clearButton->setVisible(!m_lineEdit->text().isEmpty());
}

void KavrelHistorySearchField::applyTextColor()
{
    QPalette p = m_lineEdit->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Text, Theme::primaryText.resolve(palette()));
    p.setColor(QPalette::PlaceholderText, Theme::tertiaryText.resolve(palette()));
    m_lineEdit->setPalette(p);
}

bool KavrelHistorySearchField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lineEdit && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        update();
    return KavrelHistoryCardFrame::eventFilter(watched, event);
}

void KavrelHistorySearchField::paintEvent(QPaintEvent *event)
{
    KavrelHistoryCardFrame::paintEvent(event);
    QPainter painter(this);
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, m_lineEdit,
                           KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(ring, ring, -ring, -ring), 18 - ring),
                           fieldLook().fill.resolve(palette()));
}

void KavrelHistorySearchField::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applyTextColor();
    KavrelHistoryCardFrame::changeEvent(event);
}
