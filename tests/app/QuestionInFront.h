#pragma once

// Whether a question the program asks stands where the user can answer it: stacked by the window
// manager above the window it belongs to, and holding the keyboard, as the window manager and
// Qt both see it. On the test services' X server.

#include "support/X11TestWindows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace AppTest {

// The question box on the screen, if one is.
inline QMessageBox *openQuestion()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

inline QString describeWindow(quint32 id)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->internalWinId() == WId(id))
            return QStringLiteral("the program's %1 \"%2\"").arg(QString::fromLatin1(widget->metaObject()->className()), widget->windowTitle());
    }
    return QStringLiteral("0x%1 of another client").arg(id, 0, 16);
}

// Empty when the window manager stacks the question above its window and gives it the focus,
// as Qt sees it too; else what it does instead.
inline QString questionInFront(QWidget *question, QWidget *window)
{
    const std::vector<quint32> stacking = X11TestWindows::stackingOrder(); // bottom first
    const auto place = [&stacking](QWidget *widget) {
        return int(std::find(stacking.begin(), stacking.end(), quint32(widget->winId())) - stacking.begin());
    };
    const std::optional<quint32> active = X11TestWindows::activeWindow();
    const int questionPlace = place(question);
    const int windowPlace = place(window);
    if (questionPlace >= int(stacking.size()) || windowPlace >= int(stacking.size()))
        return QStringLiteral("not both managed");
    if (questionPlace < windowPlace)
        return QStringLiteral("the question is stacked below its window");
    if (active != quint32(question->winId())) {
        if (!active)
            return QStringLiteral("the window manager has no active window");
        return active == quint32(window->winId()) ? QStringLiteral("the window manager made its window active")
                                                  : QStringLiteral("the window manager's active window is another: %1")
                                                        .arg(describeWindow(*active));
    }
    if (QApplication::activeWindow() != question || !question->isAncestorOf(QApplication::focusWidget()))
        return QStringLiteral("the question has no keyboard focus");
    return {};
}

// Empty once the question has stood in front of its window for a quarter of a second, within
// 5 s; else what the window manager did instead. While a window comes up, the window manager may
// make it active for a moment before the question takes the focus back: where it settles is
// what counts, and a question that never settles fails.
inline QString questionSettledInFront(QWidget *question, QWidget *window)
{
    QElapsedTimer inFront;
    QString state;
    const bool settled = QTest::qWaitFor(
        [&] {
            state = questionInFront(question, window);
            if (!state.isEmpty()) {
                inFront.invalidate();
                return false;
            }
            if (!inFront.isValid())
                inFront.start();
            return inFront.elapsed() >= 250;
        },
        5000);
    if (settled)
        return {};
    return state.isEmpty() ? QStringLiteral("it never stayed in front for a quarter of a second") : state;
}

} // namespace AppTest

// Waits for the question to stand in front of its window; a failure says what the window manager
// does instead.
#define VERIFY_QUESTION_IN_FRONT(question, window)                                                                  \
    do {                                                                                                           \
        const QString whereItStands = AppTest::questionSettledInFront(question, window);                          \
        QVERIFY2(whereItStands.isEmpty(), qPrintable(whereItStands));                                              \
    } while (false)
