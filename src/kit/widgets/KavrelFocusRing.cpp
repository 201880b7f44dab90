#include "kit/widgets/KavrelFocusRing.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QWidget>

namespace {

// Follows how each window is being used: a key pressed in it makes the keyboard's place show
// there, a mouse button pressed in it hides it again (GTK's visible-focus rule; Qt on its own
// shows it only after Tab). Qt's own styles read the same window attribute, so the desktop's
// buttons in the program's questions follow the rule too.
class KeyboardUse final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget)
            return false;
        if (type == QEvent::KeyPress && isModifier(static_cast<QKeyEvent *>(event)->key()))
            return false;
        QWidget *window = widget->window();
        const bool fromKeyboard = type == QEvent::KeyPress;
        if (window->testAttribute(Qt::WA_KeyboardFocusChange) == fromKeyboard)
            return false;
        window->setAttribute(Qt::WA_KeyboardFocusChange, fromKeyboard);
        if (QWidget *focused = window->focusWidget())
            focused->update();
        return false;
    }

private:
    static bool isModifier(int key)
    {
        return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta
               || key == Qt::Key_AltGr || key == Qt::Key_Super_L || key == Qt::Key_Super_R || key == 0;
    }
};

void followKeyboardUse()
{
    static QPointer<KeyboardUse> follower;
    if (follower || !qApp)
        return;
    follower = new KeyboardUse(qApp);
    qApp->installEventFilter(follower);
}

QColor opaqueOver(const QColor &colour, const QColor &background)
{
    if (colour.alpha() == 255)
        return colour;
    return KavrelPainting::blend(background, QColor(colour.red(), colour.green(), colour.blue()), colour.alphaF());
}

} // namespace

namespace KavrelFocusRing {

bool shows(const QWidget *control)
{
    followKeyboardUse();
    if (!control->hasFocus())
        return false;
    // A text field shows it whenever it has the keyboard, as the desktop's entries do.
    return control->testAttribute(Qt::WA_InputMethodEnabled) || control->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

QColor color(const QPalette &palette, const QColor &under)
{
    const QColor window = opaqueOver(palette.color(QPalette::Window), KavrelSystemColors::windowBackground.resolve(palette));
    const QColor surface = opaqueOver(under, window);
    // Aimed above the 3 : 1 a focus indication needs, so that it holds across a face's gradient
    // and on the ring's antialiased edges.
    QColor ring = kavrelReadableOn(KavrelSystemColors::accent.resolve(palette), surface, 4.5);
    ring.setAlpha(255);
    return ring;
}

void paint(QPainter &painter, const QWidget *control, const QPainterPath &centreLine, const QColor &under)
{
    if (!shows(control))
        return;
    painter.save();
    painter.setOpacity(1);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color(control->palette(), under), width));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(centreLine);
    painter.restore();
}

} // namespace KavrelFocusRing
