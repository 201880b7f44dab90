#include "workspace/widgets/MicrophoneOffWarningBanner.h"

#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/WorkspaceButtons.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {
// The banner keeps its warm light look in the dark appearance too.
const QColor bannerFill = QColor::fromRgbF(1.0, 0.95, 0.86);
} // namespace

MicrophoneOffWarningBanner::MicrophoneOffWarningBanner(QWidget *parent)
    : QWidget(parent), m_label(new QLabel(this)),
      m_dismiss(WorkspaceButtons::icon(QStringLiteral("xmark.circle.fill"), QSize(24, 24), 15, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14 + 24 + 12, 10, 14, 10);
    layout->setSpacing(12);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    QFont font = m_label->font();
    font.setPixelSize(14);
    font.setWeight(QFont::DemiBold);
    m_label->setFont(font);
    QPalette colours = m_label->palette();
    colours.setColor(QPalette::WindowText, QColor::fromRgbF(0.58, 0.28, 0.02));
    m_label->setPalette(colours);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_dismiss);
    m_dismiss->setSymbolColor(QColor::fromRgbF(0.70, 0.34, 0.04, 0.72));
    m_dismiss->setSurfaceColor(bannerFill);
    connect(m_dismiss, &QAbstractButton::clicked, this, &MicrophoneOffWarningBanner::dismissed);
}

void MicrophoneOffWarningBanner::setTexts(const QString &message, const QString &hideHelp)
{
    m_label->setText(message);
    m_dismiss->setHelpText(hideHelp);
}

void MicrophoneOffWarningBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::continuousRoundedRect(rect(), 14),
                                  bannerFill, QColor::fromRgbF(0.90, 0.48, 0.08, 0.32));
    WorkspaceSymbols::paint(painter, QRectF(14 + 3, (height() - 18) / 2.0, 18, 18), QStringLiteral("mic.slash.fill"),
                            QColor::fromRgbF(0.86, 0.43, 0.02));
}
