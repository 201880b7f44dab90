#include "app/widgets/KavrelMiniMicrophoneControl.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "session/KavrelSessionSurface.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>

namespace {

// Darker on a light window and lighter on a dark one, so the symbols read at 3:1 or more on both.
constexpr KavrelDynamicColor microphoneRed = kavrelDynamic({0.76, 0.11, 0.13, 1}, {1.0, 0.45, 0.43, 1});

// Microphone red at opacity `listening` while the microphone listens, else the secondary
// colour at opacity `idle`.
QColor ruleColour(bool isListening, const QPalette &palette, double listening, double idle)
{
    return isListening ? microphoneRed.resolve(palette, listening) : KavrelSystemColors::secondaryLabel.resolve(palette, idle);
}

QString localized(const char *key)
{
    return KavrelLocalizationStore::shared().localized(QString::fromUtf8(key));
}

} // namespace

KavrelMiniMicrophoneControl::KavrelMiniMicrophoneControl(KavrelSessionSurface &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_menuButton(new KavrelCapsuleButton), m_toggle(new KavrelCapsuleButton),
      m_menu(std::make_unique<QMenu>())
{
    for (KavrelCapsuleButton *button : {m_menuButton, m_toggle}) {
        KavrelCapsuleButton::Look look;
        look.drawsBackground = false;
        button->setLook(look);
    }
    m_menuButton->setSymbol(QStringLiteral("ellipsis"));
    m_menuButton->setFixedContentSize(QSize(30, 32));
    m_toggle->setFixedContentSize(QSize(34, 32));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1); // the divider is painted in this gap
    row->addWidget(m_menuButton);
    row->addWidget(m_toggle);

    connect(m_menuButton, &QAbstractButton::clicked, this, [this] {
        rebuildDeviceMenu();
        m_menu->popup(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height())));
    });
    connect(m_toggle, &QAbstractButton::clicked, this, [this] { m_session.toggleMicrophoneCapture(); });
    refresh();
}

KavrelMiniMicrophoneControl::~KavrelMiniMicrophoneControl() = default;

bool KavrelMiniMicrophoneControl::isListening() const
{
    return m_session.isMicrophoneListening();
}

void KavrelMiniMicrophoneControl::refresh()
{
    const bool listening = isListening();
    const KavrelDynamicColor foreground = listening ? microphoneRed : KavrelSystemColors::secondaryLabel;
    for (KavrelCapsuleButton *button : {m_menuButton, m_toggle}) {
        KavrelCapsuleButton::Look look = button->look();
        look.foreground = foreground;
        look.symbolSize = button == m_toggle ? 14 : 13;
        button->setLook(look);
    }
    m_toggle->setSymbol(listening ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash.fill"));
    m_toggle->setToolTip(listening ? localized("Turn microphone off. Right-click to choose a microphone.")
                                   : localized("Turn microphone on. Right-click to choose a microphone."));
    m_menuButton->setToolTip(localized("Select microphone"));
    // Both show only a symbol: the tooltips describe them, these names say what they are.
    m_menuButton->setAccessibleName(m_menuButton->toolTip());
    m_toggle->setAccessibleName(KavrelLocalizationStore::shared().localizedFormat(
        QStringLiteral("Mic: %@"), QStringList{m_session.selectedMicrophoneName()}));
    // Each button on its own: the one with the keyboard keeps it while the microphone switches.
    const bool available = !m_session.isBusy() && !m_session.isMicrophoneBusy();
    for (KavrelCapsuleButton *button : {m_menuButton, m_toggle})
        KavrelFocusHold::setAvailable(button, available);
    update();
}

void KavrelMiniMicrophoneControl::rebuildDeviceMenu()
{
    m_menu->clear();
    const QList<MicrophoneInputDevice> devices = m_session.availableMicrophones();
    if (devices.isEmpty()) {
        m_menu->addAction(localized("No microphone devices available"))->setEnabled(false);
        return;
    }
    const QColor iconColour = m_menu->palette().color(QPalette::WindowText);
    const QString selected = m_session.selectedMicrophoneID();
    for (const MicrophoneInputDevice &device : devices) {
        const bool isSelected = device.id == selected;
        const QString id = device.id;
        QAction *action = m_menu->addAction(KavrelSymbols::icon(isSelected ? QStringLiteral("checkmark") : QStringLiteral("mic"), iconColour),
                                            device.name, this, [this, id] { m_session.selectMicrophone(id); });
        action->setData(id);
        action->setEnabled(!isSelected);
    }
}

void KavrelMiniMicrophoneControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!KavrelFocusHold::looksAvailable(m_toggle))
        painter.setOpacity(0.5);
    const bool listening = isListening();
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(area), ruleColour(listening, palette(), 0.055, 0.1),
                                  ruleColour(listening, palette(), 0.88, 0.18));
    const qreal x = m_menuButton->geometry().right() + 1;
    painter.fillRect(QRectF(x, (height() - 18) / 2.0, 1, 18), ruleColour(listening, palette(), 0.28, 0.22));
}
