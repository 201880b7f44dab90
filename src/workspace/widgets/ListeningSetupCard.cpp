#include "workspace/widgets/ListeningSetupCard.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {
constexpr KavrelDynamicColor cardBackground = kavrelDynamic({1, 1, 1, 0.88}, {0.15, 0.16, 0.18, 0.96});
constexpr KavrelDynamicColor cardBorder = kavrelDynamic({0, 0, 0, 0.06}, {1, 1, 1, 0.08});
constexpr int tile = 48;
} // namespace

ListeningSetupCard::ListeningSetupCard(const QString &iconName, const QColor &accent, QWidget *parent)
    : QWidget(parent), m_iconName(iconName), m_accent(accent), m_title(new QLabel(this)), m_subtitle(new QLabel(this)),
      m_controls(new QVBoxLayout)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(18 + tile + 16, 18, 18, 18);
    row->setSpacing(16);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_title->setTextFormat(Qt::PlainText);
    QFont headline = m_title->font();
    headline.setPixelSize(14);
    headline.setBold(true);
    m_title->setFont(headline);
    m_subtitle->setTextFormat(Qt::PlainText);
    m_subtitle->setWordWrap(true);
    QFont sub = m_subtitle->font();
    sub.setPixelSize(12);
    m_subtitle->setFont(sub);
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);
    row->addSpacing(20 - 16);
    m_controls->setSpacing(10);
    m_controls->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *holder = new QWidget(this);
    holder->setMinimumWidth(180);
    holder->setLayout(m_controls);
    m_controls->setContentsMargins(0, 0, 0, 0);
    row->addWidget(holder);
    row->addStrut(tile); // the tile, at least, with the controls free to make the card taller
}

void ListeningSetupCard::setTexts(const QString &title, const QString &subtitle)
{
    m_title->setText(title);
    m_subtitle->setText(subtitle);
}

void ListeningSetupCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 20),
                                  cardBackground.resolve(palette()), cardBorder.resolve(palette()));
    const QRectF tileRect(18, (height() - tile) / 2.0, tile, tile);
    QColor tileFill = m_accent;
    tileFill.setAlphaF(0.12);
    painter.fillPath(KavrelPainting::continuousRoundedRect(tileRect, 16), tileFill);
    WorkspaceSymbols::paint(painter, tileRect.adjusted(14, 14, -14, -14), m_iconName, m_accent);
}
