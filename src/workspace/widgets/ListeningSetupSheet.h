#pragma once

#include <QDialog>

class KavrelCapsuleButton;
class KavrelLocalizationStore;
class KavrelSwitch;
class ListeningSetupCard;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class SubtitleViewModel;

// The sheet shown before a session starts from the main window: listening language,
// microphone mix-in and device, the M4A recording, and live translation with its target. Every
// control writes the view model at once, so choices stay after Start and after Cancel. Start
// (Return) only reports startRequested(); the presenter closes the sheet. Cancel (Escape)
// closes it.
class ListeningSetupSheet final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int sheetWidth = 620;
    static constexpr int actionButtonSize = 120;

    explicit ListeningSetupSheet(SubtitleViewModel &viewModel, QWidget *parent = nullptr);

    QComboBox *sourcePicker() const { return m_source; }
    QComboBox *targetPicker() const { return m_target; }
    KavrelSwitch *microphoneSwitch() const { return m_microphone; }
    KavrelSwitch *recordingSwitch() const { return m_recording; }
    KavrelSwitch *translationSwitch() const { return m_translation; }
    QToolButton *deviceMenuButton() const { return m_devices; }
    QPushButton *startButton() const { return m_start; }
    KavrelCapsuleButton *cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void startRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void refreshTexts();
    void rebuildDeviceMenu();

    SubtitleViewModel &m_viewModel;
    KavrelLocalizationStore &m_texts;
    QLabel *m_title;
    QLabel *m_subtitle;
    ListeningSetupCard *m_languageCard;
    ListeningSetupCard *m_microphoneCard;
    ListeningSetupCard *m_recordingCard;
    ListeningSetupCard *m_translationCard;
    QComboBox *m_source;
    KavrelSwitch *m_microphone;
    QToolButton *m_devices;
    KavrelSwitch *m_recording;
    KavrelSwitch *m_translation;
    QComboBox *m_target;
    KavrelCapsuleButton *m_cancel;
    QPushButton *m_start;
};
