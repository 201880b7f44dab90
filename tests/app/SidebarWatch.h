#pragma once

// What a test sees of the main window's sidebar: whether a user would find a caption cut or
// drawn over another button, and what the column does while the test watches.

#include "screens/widgets/KavrelSidebarButton.h"
#include "screens/widgets/KavrelSidebarUpdateButton.h"
#include "screens/widgets/KavrelSidebarView.h"

#include <QAbstractButton>
#include <QEvent>
#include <QStringList>

namespace AppTest {

// What a user would find wrong in the column: a button too short for its caption, one drawn over
// another, or a part outside the column.
inline QStringList overlaps(const KavrelSidebarView *sidebar)
{
    QList<QWidget *> parts{sidebar->settingsButton(), sidebar->updateButton(), sidebar->accountPanel()};
    for (KavrelSidebarButton *button : sidebar->sectionButtons())
        parts.append(button);
    parts.removeIf([](const QWidget *part) { return !part->isVisible(); });
    QStringList found;
    const auto name = [](const QWidget *part) {
        const auto *button = qobject_cast<const QAbstractButton *>(part);
        return button ? button->text() : part->objectName();
    };
    for (const QWidget *part : std::as_const(parts)) {
        if (!sidebar->rect().contains(part->geometry()))
            found << name(part) + QStringLiteral(" leaves the column");
        if (part->height() < part->minimumSizeHint().height())
            found << name(part) + QStringLiteral(" is squeezed");
        for (const QWidget *other : std::as_const(parts)) {
            if (other != part && part->y() < other->y() && part->geometry().intersects(other->geometry()))
                found << name(part) + QStringLiteral(" runs over ") + name(other);
        }
    }
    return found;
}

// Counts what a sidebar does while the test watches: form changes, layout requests, repaints.
class Stillness final : public QObject
{
public:
    explicit Stillness(KavrelSidebarView *sidebar) : QObject(sidebar), m_sidebar(sidebar)
    {
        connect(sidebar, &KavrelSidebarView::compactChanged, this, [this] { ++formChanges; });
        sidebar->installEventFilter(this);
        for (QWidget *part : sidebar->findChildren<QWidget *>())
            part->installEventFilter(this);
    }

    void reset() { formChanges = layoutRequests = repaints = 0; }
    bool isStill() const { return formChanges == 0 && layoutRequests == 0 && repaints == 0; }
    QString describe() const
    {
        return QStringLiteral("at height %1 (%2): %3 form changes, %4 layout requests, %5 repaints")
            .arg(m_sidebar->height())
            .arg(m_sidebar->isCompact() ? QStringLiteral("compact") : QStringLiteral("roomy"))
            .arg(formChanges).arg(layoutRequests).arg(repaints);
    }

    int formChanges = 0;
    int layoutRequests = 0;
    int repaints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            ++layoutRequests;
        else if (event->type() == QEvent::Paint)
            ++repaints;
        return QObject::eventFilter(watched, event);
    }

private:
    KavrelSidebarView *m_sidebar;
};

} // namespace AppTest
