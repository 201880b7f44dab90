#pragma once

#include <QWidget>

#include <memory>

class KavrelCapsuleButton;
class KavrelSessionSurface;
class QMenu;

// The mini window's microphone control: a device menu button and the microphone toggle in one
// capsule, red while the microphone listens. It is inert while the session or the microphone
// is busy.
class KavrelMiniMicrophoneControl final : public QWidget
{
    Q_OBJECT

public:
    explicit KavrelMiniMicrophoneControl(KavrelSessionSurface &session, QWidget *parent = nullptr);
    ~KavrelMiniMicrophoneControl() override;

    // Follows the session state and the interface language.
    void refresh();
    // The device menu, built from the session's device list each time it opens.
    QMenu *deviceMenu() const { return m_menu.get(); }
    void rebuildDeviceMenu();
    KavrelCapsuleButton *menuButton() const { return m_menuButton; }
    KavrelCapsuleButton *toggleButton() const { return m_toggle; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool isListening() const;

    KavrelSessionSurface &m_session;
    KavrelCapsuleButton *m_menuButton = nullptr;
    KavrelCapsuleButton *m_toggle = nullptr;
    std::unique_ptr<QMenu> m_menu;
};
