#include "detection/widgets/KavrelMeetingPromptPanels.h"

#include "detection/widgets/KavrelMeetingDetectedPanelView.h"
#include "detection/widgets/KavrelMeetingEndedPanelView.h"
#include "detection/widgets/KavrelMeetingPromptPanel.h"
#include "platform/X11WindowHints.h"

#include <QGuiApplication>
#include <QScreen>

KavrelMeetingPromptPanels::~KavrelMeetingPromptPanels()
{
    delete m_panel.data();
    for (const QPointer<KavrelMeetingPromptPanel> &closing : std::as_const(m_closing))
        delete closing.data();
}

void KavrelMeetingPromptPanels::showMeetingDetected(const DetectedMeeting &meeting,
                                                    std::function<void()> startListening,
                                                    std::function<void()> dismiss)
{
    close();
    auto *view = new KavrelMeetingDetectedPanelView(meeting, std::move(startListening), std::move(dismiss));
    present(new KavrelMeetingPromptPanel(KavrelMeetingDetectedPanelView::panelSize, view));
}

void KavrelMeetingPromptPanels::showMeetingEnded(const DetectedMeeting &meeting,
                                                 std::function<void()> finishRecording,
                                                 std::function<void()> keepRecording)
{
    close();
    auto *view = new KavrelMeetingEndedPanelView(meeting, std::move(finishRecording), std::move(keepRecording));
    present(new KavrelMeetingPromptPanel(KavrelMeetingEndedPanelView::panelSize, view));
}

void KavrelMeetingPromptPanels::present(KavrelMeetingPromptPanel *panel)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty())
        screen = QGuiApplication::screens().constFirst();
    const auto available = screen ? std::optional<QRect>(screen->availableGeometry()) : std::nullopt;
    if (const auto origin = topRightOrigin(available, panel->size()))
        panel->move(*origin);
    panel->show();
    X11WindowHints::keepOnAllDesktopsAbove(quint32(panel->winId()));
    m_panel = panel;
}

void KavrelMeetingPromptPanels::close()
{
    if (!m_panel)
        return;
    // The panel may be closing from one of its own buttons' clicks: it goes once that returns.
    m_panel->hide();
    m_panel->deleteLater();
    m_closing.removeIf([](const QPointer<KavrelMeetingPromptPanel> &closing) { return closing.isNull(); });
    m_closing.append(m_panel);
    m_panel = nullptr;
}

bool KavrelMeetingPromptPanels::isPanelVisible() const
{
    return m_panel && m_panel->isVisible();
}

QWidget *KavrelMeetingPromptPanels::panel() const
{
    return m_panel.data();
}

std::optional<QPoint> KavrelMeetingPromptPanels::topRightOrigin(const std::optional<QRect> &availableGeometry,
                                                                QSize panelSize)
{
    if (!availableGeometry)
        return std::nullopt;
    const QRect &area = *availableGeometry;
    return QPoint(area.x() + area.width() - panelSize.width() - 24, area.y() + 18);
}
