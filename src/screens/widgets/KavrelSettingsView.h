#pragma once

#include <QWidget>

#include <functional>

class KavrelSettingsModel;
class KavrelSettingsUpdateRow;
class KavrelSwitch;
class KavrelThemeOptionButton;
class QScrollArea;

// The settings window's content: the theme (system, light, dark), whether the mini window
// shows by itself during a session, and the update check. Everything is reachable with the
// keyboard; the page scrolls when the window is smaller than it.
class KavrelSettingsView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr const char *windowIdentifier = "kavrel-settings";

    // `checkForUpdates` runs the interactive update check.
    KavrelSettingsView(KavrelSettingsModel &model, std::function<void()> checkForUpdates, QWidget *parent = nullptr);

    QWidget *title() const { return m_title; }
    QList<KavrelThemeOptionButton *> themeOptions() const { return m_themeOptions; }
    KavrelSwitch *miniWindowSwitch() const { return m_miniWindowSwitch; }
    KavrelSettingsUpdateRow *updateRow() const { return m_updateRow; }
    QScrollArea *scrollArea() const { return m_scrollArea; }

    QSize sizeHint() const override { return QSize(600, 560); }
    QSize minimumSizeHint() const override { return QSize(560, 520); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makePanel(const QString &title, QWidget *content);
    QWidget *makeThemeSelector();
    QWidget *makeMiniWindowRow();
    void followModel();

    KavrelSettingsModel &m_model;
    std::function<void()> m_checkForUpdates;
    QWidget *m_title = nullptr;
    QList<KavrelThemeOptionButton *> m_themeOptions;
    KavrelSwitch *m_miniWindowSwitch = nullptr;
    KavrelSettingsUpdateRow *m_updateRow = nullptr;
    QScrollArea *m_scrollArea = nullptr;
};
