#include "ScreenFitCheck.h"

#include "kit/widgets/KavrelScreenFit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWidget>
#include <QWindow>

namespace ScreenFitCheck {

namespace {

// Rounding of fractional text metrics.
constexpr int slack = 1;

QString describe(const QWidget *widget, const QString &text)
{
    QString name = QString::fromLatin1(widget->metaObject()->className());
    if (!widget->objectName().isEmpty())
        name += QLatin1Char('#') + widget->objectName();
    QString shown = text.simplified();
    if (shown.size() > 60)
        shown = shown.left(57) + QStringLiteral("...");
    return shown.isEmpty() ? name : name + QStringLiteral(" \"") + shown + QLatin1Char('"');
}

QString sizeText(QSize size)
{
    return QString::number(size.width()) + QLatin1Char('x') + QString::number(size.height());
}

QString rectText(const QRect &rect)
{
    return sizeText(rect.size()) + QLatin1Char('+') + QString::number(rect.x()) + QLatin1Char('+') + QString::number(rect.y());
}

// The windows a user has in front of them: menus and tool tips place themselves.
bool isCheckedWindow(const QWidget *top)
{
    const Qt::WindowType type = top->windowType();
    return top->isVisible() && type != Qt::Popup && type != Qt::ToolTip && !top->testAttribute(Qt::WA_DontShowOnScreen);
}

void checkWindow(const QWidget *window, QStringList &found)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QString what = describe(window, window->windowTitle());
    if (!available.contains(frame))
        found.append(what + QStringLiteral(": the window ") + rectText(frame) + QStringLiteral(" leaves the screen's free area ")
                     + rectText(available));
    // The window manager shows the title whole only when the window is wide enough for it.
    const QString title = window->windowTitle();
    if (!title.isEmpty() && !(window->windowFlags() & Qt::FramelessWindowHint)
        && frame.width() < KavrelScreenFit::titleBarWidth(title))
        found.append(what + QStringLiteral(": the title bar (") + QString::number(frame.width())
                     + QStringLiteral(" wide) cuts the title, which needs ") + QString::number(KavrelScreenFit::titleBarWidth(title)));
    const QSize decorations = frame.size() - window->size();
    const QSize least = window->minimumSize() + decorations;
    if (least.width() > available.width() || least.height() > available.height())
        found.append(what + QStringLiteral(": at its smallest (") + sizeText(least) + QStringLiteral(") the window is larger than the free area ")
                     + sizeText(available.size()));
}

QString withoutMnemonics(QString text)
{
    const QChar keep(0xE000);
    text.replace(QStringLiteral("&&"), keep);
    text.remove(QLatin1Char('&'));
    text.replace(keep, QLatin1Char('&'));
    return text;
}

// Whether an ancestor hides part of `widget`, naming it in `cutter`. What a scroll area holds is
// reachable by scrolling, so the search ends there.
bool isCutByAncestor(const QWidget *widget, const QWidget *root, QString &cutter)
{
    QRect visible = widget->rect();
    const QWidget *child = widget;
    for (const QWidget *parent = widget->parentWidget(); parent && child != root; child = parent, parent = parent->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea *>(parent->parentWidget()) && parent->objectName() == QLatin1String("qt_scrollarea_viewport"))
            return false;
        visible.translate(child->pos());
        const QRect kept = visible & parent->rect();
        if (kept.width() < visible.width() - slack || kept.height() < visible.height() - slack) {
            cutter = describe(parent, QString());
            return true;
        }
        visible = kept;
    }
    return false;
}

bool isLaidOutBy(const QLayout *layout, const QWidget *widget)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == widget || (item->layout() && isLaidOutBy(item->layout(), widget)))
            return true;
    }
    return false;
}

// A sibling that the same layout placed over `widget`: a layout squeezed below its least size
// stacks what it holds.
const QWidget *overlappingSibling(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    if (!parent || !parent->layout() || !isLaidOutBy(parent->layout(), widget))
        return nullptr;
    for (const QObject *child : parent->children()) {
        const auto *sibling = qobject_cast<const QWidget *>(child);
        if (!sibling || sibling == widget || sibling->isWindow() || !sibling->isVisibleTo(parent)
            || !isLaidOutBy(parent->layout(), sibling))
            continue;
        const QRect shared = sibling->geometry() & widget->geometry();
        if (shared.width() > slack && shared.height() > slack)
            return sibling;
    }
    return nullptr;
}

void checkLabel(const QLabel *label, QStringList &found)
{
    if (label->text().isEmpty())
        return;
    const QSize has = label->size();
    const QString what = describe(label, label->text());
    if (label->wordWrap()) {
        const int needed = label->heightForWidth(has.width());
        if (needed > has.height() + slack)
            found.append(what + QStringLiteral(": its wrapped text needs ") + QString::number(needed) + QStringLiteral(" px of height at ")
                         + QString::number(has.width()) + QStringLiteral(" px, it has ") + QString::number(has.height()));
        return;
    }
    const QSize needed = label->sizeHint();
    if (needed.width() > has.width() + slack || needed.height() > has.height() + slack)
        found.append(what + QStringLiteral(": its text needs ") + sizeText(needed) + QStringLiteral(", it has ") + sizeText(has));
}

void checkButton(const QAbstractButton *button, QStringList &found)
{
    const auto *tool = qobject_cast<const QToolButton *>(button);
    if (button->text().isEmpty() || (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly))
        return;
    const QString text = withoutMnemonics(button->text());
    const QSize has = button->size();
    const QString what = describe(button, text);
    // Wrapped at the button's width if it must be: no word wider than the button, no line below it.
    const QRect needed = button->fontMetrics().boundingRect(QRect(0, 0, has.width(), 100000),
                                                            Qt::TextWordWrap | Qt::AlignHCenter, text);
    if (needed.width() > has.width() + slack || needed.height() > has.height() + slack) {
        found.append(what + QStringLiteral(": its caption needs ") + sizeText(needed.size()) + QStringLiteral(", it has ") + sizeText(has));
        return;
    }
    const QSize least = button->minimumSizeHint();
    if (least.isValid() && (has.width() < least.width() - slack || has.height() < least.height() - slack))
        found.append(what + QStringLiteral(": squeezed to ") + sizeText(has) + QStringLiteral(" below the ") + sizeText(least)
                     + QStringLiteral(" it needs"));
}

void checkTexts(QWidget *root, QStringList &found)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *widget : std::as_const(widgets)) {
        // A window of its own, and what it holds, is checked as one when it is shown.
        if ((widget->isWindow() && widget != root) || (widget != root && !root->isAncestorOf(widget)))
            continue;
        if (!widget->isVisibleTo(root))
            continue;
        const auto *label = qobject_cast<const QLabel *>(widget);
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        const QString text = label ? label->text() : button ? button->text() : QString();
        if (text.isEmpty())
            continue;
        if (widget->width() <= 0 || widget->height() <= 0) {
            found.append(describe(widget, text) + QStringLiteral(": shown with no room at all"));
            continue;
        }
        QString cutter;
        if (isCutByAncestor(widget, root, cutter)) {
            found.append(describe(widget, text) + QStringLiteral(": partly hidden outside ") + cutter);
            continue;
        }
        if (const QWidget *over = overlappingSibling(widget)) {
            found.append(describe(widget, text) + QStringLiteral(": overlapped by ") + describe(over, QString()));
            continue;
        }
        if (label)
            checkLabel(label, found);
        else
            checkButton(button, found);
    }
}

} // namespace

QStringList faults(QWidget *scene)
{
    QStringList found;
    QList<QWidget *> roots;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!isCheckedWindow(top))
            continue;
        checkWindow(top, found);
        roots.append(top);
    }
    if (scene && !roots.contains(scene->window()))
        roots.append(scene->window());
    for (QWidget *root : std::as_const(roots))
        checkTexts(root, found);
    found.removeDuplicates();
    return found;
}

void verify(QWidget *scene, const QString &sceneName)
{
    const QStringList found = faults(scene);
    if (found.isEmpty())
        return;
    const QScreen *screen = scene && scene->screen() ? scene->screen() : QGuiApplication::primaryScreen();
    const QString message = sceneName + QStringLiteral(" on a ") + sizeText(screen ? screen->size() : QSize())
                            + QStringLiteral(" screen does not fit:\n  ") + found.join(QStringLiteral("\n  "));
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
}

void resizeWindow(QWidget *window, QSize wanted)
{
    window->resize(wanted);
    KavrelScreenFit::keepOnScreen(window);
}

} // namespace ScreenFitCheck
