#include "workspace/widgets/WorkspaceMicrophoneControl.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"
#include "session/SubtitleViewModel.h"
#include "workspace/widgets/MicrophoneLevelBars.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr int faceHeight = 46;
constexpr int padding = 14;
constexpr int spacing = 8;
constexpr int symbolSize = 16;
constexpr int shadowRoom = 6;
constexpr int maximumLabelWidth = 220;
const QColor listeningFill = QColor::fromRgbF(0.84, 0.16, 0.17);
constexpr KavrelDynamicColor idleFill = kavrelDynamic({1, 1, 1, 0.58}, {1, 1, 1, 0.08});
constexpr KavrelDynamicColor idleBorder = kavrelDynamic({0, 0, 0, 0.06}, {1, 1, 1, 0.06});
} // namespace

WorkspaceMicrophoneControl::WorkspaceMicrophoneControl(SubtitleViewModel &viewModel, QWidget *parent)
    : QAbstractButton(parent), m_viewModel(viewModel), m_bars(new MicrophoneLevelBars(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, &viewModel, &SubtitleViewModel::toggleMicrophoneCapture);
    for (auto signal : {&SubtitleViewModel::isMicrophoneListeningChanged, &SubtitleViewModel::isMicrophoneTestingChanged,
                        &SubtitleViewModel::isBusyChanged, &SubtitleViewModel::isMicrophoneBusyChanged,
                        &SubtitleViewModel::selectedMicrophoneNameChanged,
                        &SubtitleViewModel::availableMicrophonesChanged}) {
        connect(&viewModel, signal, this, &WorkspaceMicrophoneControl::refresh);
    }
    connect(&viewModel.localization(), &KavrelLocalizationStore::languageChanged, this, &WorkspaceMicrophoneControl::refresh);
    // The level changes many times a second: only the bars follow it.
    connect(&viewModel, &SubtitleViewModel::microphoneLevelChanged, this, [this] {
        m_bars->setLevel(m_viewModel.microphoneLevel(), m_viewModel.isMicrophoneListening() || m_viewModel.isMicrophoneTesting());
    });
    refresh();
}

QFont WorkspaceMicrophoneControl::labelFont() const
{
    QFont font = this->font();
    font.setPixelSize(14);
    font.setWeight(QFont::DemiBold);
    return font;
}

QString WorkspaceMicrophoneControl::labelText() const
{
    return m_viewModel.localization().localizedFormat(QStringLiteral("Mic: %@"), QStringList{m_viewModel.selectedMicrophoneName()});
}

void WorkspaceMicrophoneControl::refresh()
{
    const bool listening = m_viewModel.isMicrophoneListening();
    const KavrelLocalizationStore &texts = m_viewModel.localization();
    setToolTip(texts.localized(listening ? QStringLiteral("Turn microphone off. Right-click to choose a microphone.")
                                         : QStringLiteral("Turn microphone on. Right-click to choose a microphone.")));
    setAccessibleName(labelText());
    KavrelFocusHold::setAvailable(this, !m_viewModel.isBusy() && !m_viewModel.isMicrophoneBusy());
    m_bars->setLevel(m_viewModel.microphoneLevel(), listening || m_viewModel.isMicrophoneTesting());
    updateGeometry();
    forgetFace();
}

QSize WorkspaceMicrophoneControl::sizeHint() const
{
    const int label = std::min(maximumLabelWidth, QFontMetrics(labelFont()).horizontalAdvance(labelText()) + 2);
    return QSize(padding * 2 + symbolSize + spacing + label + spacing + m_bars->width(), faceHeight + shadowRoom);
}

void WorkspaceMicrophoneControl::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    m_face = QPixmap();
    m_bars->setOpaqueBackdrop(QPixmap());
    m_bars->move(width() - padding - m_bars->width(), (faceHeight - m_bars->height()) / 2);
}

void WorkspaceMicrophoneControl::paintEvent(QPaintEvent *event)
{
    // The level bars above repaint many times a second while someone speaks, and each of their
    // repaints passes through here: the button's shape and shadow are drawn once and kept. The
    // symbol and the label are drawn over them directly, as text drawn into a transparent image
    // would look heavier.
    const qreal ratio = devicePixelRatioF();
    if (m_face.isNull() || m_face.devicePixelRatio() != ratio) {
        m_face = QPixmap(size() * ratio);
        m_face.setDevicePixelRatio(ratio);
        m_face.fill(Qt::transparent);
        QPainter facePainter(&m_face);
        paintFace(facePainter);
        facePainter.end();
        // While listening the face under the bars is solid: the bars draw it themselves and their
        // many repaints stop at them instead of going through this button and everything below it.
        const bool solidUnderBars = m_viewModel.isMicrophoneListening() && KavrelFocusHold::looksAvailable(this);
        m_bars->setOpaqueBackdrop(solidUnderBars ? m_face : QPixmap());
    }
    QPainter painter(this);
    const QRect area = event->rect();
    painter.drawPixmap(area, m_face, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
    // The ring follows the keyboard's use of the window, which the kept face knows nothing of.
    const QRectF face(0.5, 0.5, width() - 1, faceHeight - 1);
    KavrelFocusRing::paint(painter, this, KavrelPainting::continuousRoundedRect(face.adjusted(2.5, 2.5, -2.5, -2.5), 13.5),
                           m_viewModel.isMicrophoneListening() ? listeningFill : idleFill.resolve(palette()));
    // A repaint of the bars alone leaves the symbol and the label, which lie beside them, as they are.
    if (event->region().intersects(contentArea()))
        paintContent(painter);
}

QRect WorkspaceMicrophoneControl::contentArea() const
{
    return QRect(0, 0, std::max(0, m_bars->x() - spacing / 2), faceHeight);
}

void WorkspaceMicrophoneControl::paintFace(QPainter &painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (!KavrelFocusHold::looksAvailable(this))
        painter.setOpacity(0.5);
    const bool listening = m_viewModel.isMicrophoneListening();
    const QRectF face(0.5, 0.5, width() - 1, faceHeight - 1);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(face, 16);
    KavrelPainting::drawSoftShadow(painter, shape, QColor::fromRgbF(0, 0, 0, 0.04), 10, QPointF(0, 4));
    KavrelPainting::fillAndStroke(painter, shape, listening ? listeningFill : idleFill.resolve(palette()),
                                  listening ? QColor::fromRgbF(1, 0.23, 0.19, 0.18) : idleBorder.resolve(palette()));
}

void WorkspaceMicrophoneControl::paintContent(QPainter &painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (!KavrelFocusHold::looksAvailable(this))
        painter.setOpacity(0.5);
    const bool listening = m_viewModel.isMicrophoneListening();
    const QColor foreground = listening ? QColor(Qt::white) : KavrelSystemColors::label.resolve(palette());
    KavrelSymbols::paint(painter, QRectF(padding, (faceHeight - symbolSize) / 2.0, symbolSize, symbolSize),
                         listening ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash.fill"), foreground);
    // The label shrinks a little before it is cut.
    QFont font = labelFont();
    const double x = padding + symbolSize + spacing;
    const double room = width() - x - spacing - m_bars->width() - padding;
    const QString label = labelText();
    if (QFontMetricsF(font).horizontalAdvance(label) > room)
        font.setPixelSize(std::max(11, int(14 * 0.8)));
    painter.setFont(font);
    painter.setPen(foreground);
    painter.drawText(QRectF(x, 0, room, faceHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(font).elidedText(label, Qt::ElideRight, room));
}

void WorkspaceMicrophoneControl::forgetFace()
{
    m_face = QPixmap();
    m_bars->setOpaqueBackdrop(QPixmap());
    update();
}

void WorkspaceMicrophoneControl::changeEvent(QEvent *event)
{
    QAbstractButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::EnabledChange:
    case QEvent::StyleChange:
        forgetFace();
        break;
    default:
        break;
    }
}

void WorkspaceMicrophoneControl::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

QMenu *WorkspaceMicrophoneControl::buildMenu(QWidget *parent) const
{
    const KavrelLocalizationStore &texts = m_viewModel.localization();
    auto *menu = new QMenu(parent);
    const QList<MicrophoneInputDevice> devices = m_viewModel.availableMicrophones();
    if (devices.isEmpty()) {
        menu->addAction(texts.localized(QStringLiteral("No microphone devices available")))->setEnabled(false);
    } else {
        const QColor iconColour = KavrelSystemColors::label.resolve(palette());
        for (const MicrophoneInputDevice &device : devices) {
            QAction *action = menu->addAction(device.name);
            if (device.id == m_viewModel.selectedMicrophoneID()) {
                action->setIcon(KavrelSymbols::icon(QStringLiteral("checkmark"), iconColour));
                action->setEnabled(false);
            } else {
                SubtitleViewModel *viewModel = &m_viewModel;
                const QString id = device.id;
                connect(action, &QAction::triggered, viewModel, [viewModel, id] { viewModel->selectMicrophone(id); });
            }
        }
    }
    menu->addSeparator();
    QAction *test = menu->addAction(texts.localized(m_viewModel.isMicrophoneTesting() ? QStringLiteral("Stop test")
                                                                                     : QStringLiteral("Start test")));
    test->setEnabled(!m_viewModel.isBusy() && !m_viewModel.isMicrophoneBusy() && !devices.isEmpty());
    connect(test, &QAction::triggered, &m_viewModel, &SubtitleViewModel::toggleMicrophoneTest);
    return menu;
}

void WorkspaceMicrophoneControl::contextMenuEvent(QContextMenuEvent *event)
{
    // The menu is offered even while the button is disabled; its items say what can be done.
    QMenu *menu = buildMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}
