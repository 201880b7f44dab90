#include "AccessibleNames.h"

#include "kit/widgets/KavrelSegmentedPicker.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QTest>
#include <QWidget>

namespace AccessibleNames {

QStringList unnamedIconButtons(QWidget *root)
{
    QStringList unnamed;
    QList<QWidget *> widgets{root};
    widgets += root->findChildren<QWidget *>();
    for (QWidget *widget : std::as_const(widgets)) {
        // What shows in the scene's own window: another window has scenes of its own.
        if (widget != root && (widget->window() != root->window() || !widget->isVisibleTo(root)))
            continue;
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const bool iconOnly = (button && button->text().trimmed().isEmpty()) || qobject_cast<const KavrelSegmentedPicker *>(widget);
        if (!iconOnly)
            continue;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty())
            continue;
        unnamed.append(QStringLiteral("%1 \"%2\" (tooltip \"%3\")")
                           .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(), widget->toolTip()));
    }
    return unnamed;
}

void verify(QWidget *scene, const QString &sceneName)
{
    const QStringList unnamed = unnamedIconButtons(scene);
    if (unnamed.isEmpty())
        return;
    const QString message = sceneName + QStringLiteral(" shows icon buttons without an accessible name:\n  ")
                            + unnamed.join(QStringLiteral("\n  "));
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
}

} // namespace AccessibleNames
