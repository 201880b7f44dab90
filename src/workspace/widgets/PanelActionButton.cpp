#include "workspace/widgets/PanelActionButton.h"

PanelActionButton::PanelActionButton(std::optional<QColor> accent, QWidget *parent) : QPushButton(parent), m_accent(accent)
{
    QFont small = font();
    small.setPixelSize(12);
    setFont(small);
    if (m_accent) {
        const QColor c = *m_accent;
        const QString rgb = QStringLiteral("%1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue());
        setStyleSheet(QStringLiteral("QPushButton { background: rgb(%1); color: white; border: none; border-radius: 6px;"
                                     " padding: 4px 10px; }"
                                     "QPushButton:hover { background: rgba(%1,0.88); }"
                                     "QPushButton:focus { border: 1px solid white; }"
                                     "QPushButton:disabled { background: rgba(%1,0.35); color: rgba(255,255,255,0.75); }")
                          .arg(rgb));
    }
}

void PanelActionButton::setTexts(const QString &title, const QString &helpText)
{
    setText(title);
    setToolTip(helpText);
    setAccessibleDescription(helpText);
}
