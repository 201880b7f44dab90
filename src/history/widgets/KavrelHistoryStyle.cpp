#include "history/widgets/KavrelHistoryStyle.h"

#include "kit/widgets/KavrelReadableText.h"
#include "localization/KavrelLocalizationStore.h"

#include <QEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QTextLayout>
#include <QTextOption>
#include <QFontMetricsF>
#include <QStringList>

#include <algorithm>

namespace KavrelHistoryStyle {

namespace {

// Follows the palette: the colour is resolved whenever the label's palette changes.
class ColoredLabel : public QLabel
{
public:
    ColoredLabel(KavrelDynamicColor color, QWidget *parent) : QLabel(parent), m_color(color) { applyColor(); }

    void setElidedText(const QString &text)
    {
        m_fullText = text;
        m_elides = true;
        setToolTip(text);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(1);
        applyElision();
    }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange && !m_applying)
            applyColor();
        QLabel::changeEvent(event);
    }

    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        applyElision();
    }

private:
    void applyElision()
    {
        if (m_elides)
            setText(fontMetrics().elidedText(m_fullText, Qt::ElideRight, std::max(1, contentsRect().width())));
    }

    void applyColor()
    {
        m_applying = true;
        QPalette p = palette();
        p.setColor(QPalette::WindowText, m_color.resolve(p));
        p.setColor(QPalette::Text, m_color.resolve(p));
        setPalette(p);
        m_applying = false;
    }

    KavrelDynamicColor m_color;
    bool m_applying = false;
    bool m_elides = false;
    QString m_fullText;
};

// A text of a meeting: the keyboard comes to it and reads it, as a screen reader does.
class ReadableLabel final : public ColoredLabel, public KavrelReadableText
{
public:
    using ColoredLabel::ColoredLabel;

    QString readableText() const override { return text(); }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!readKey(event))
            ColoredLabel::keyPressEvent(event);
    }
};

} // namespace

QFont font(double pixelSize, QFont::Weight weight, Design design)
{
    QFont result = design == Design::monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    result.setPixelSize(int(pixelSize));
    result.setWeight(weight);
    return result;
}

QLabel *plainLabel(const QString &text, const QFont &font, KavrelDynamicColor color, QWidget *parent)
{
    auto *label = new ColoredLabel(color, parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    return label;
}

QLabel *readableLabel(const QString &text, const QFont &font, KavrelDynamicColor color, const QString &name)
{
    auto *label = new ReadableLabel(color, nullptr);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    label->setAccessibleName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // After the flags, which leave a label the mouse selects to clicks alone.
    label->setFocusPolicy(Qt::StrongFocus);
    return label;
}

QLabel *oneLineLabel(const QString &text, const QFont &font, KavrelDynamicColor color, QWidget *parent)
{
    auto *label = new ColoredLabel(color, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setElidedText(text);
    return label;
}

QStringList elidedLines(const QString &text, const QFont &font, double width, int maxLines)
{
    QString flowing = text;
    flowing.replace(QLatin1Char('\n'), QChar::LineSeparator);
    const QFontMetricsF metrics(font);
    QTextLayout layout(flowing, font);
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere); // a word longer than the line is broken too
    layout.setTextOption(wrapping);
    layout.beginLayout();
    QStringList lines;
    while (lines.size() < maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        const QString own = flowing.mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator).trimmed();
        const bool more = line.textStart() + line.textLength() < flowing.size();
        if (lines.size() < maxLines - 1 || !more) {
            lines.append(own);
            continue;
        }
        // The last line shows as much of the rest as fits, then the ellipsis.
        QString rest = flowing.mid(line.textStart());
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        QString elided = metrics.elidedText(rest, Qt::ElideRight, width);
        if (elided == rest) // the rest fits only because its own line break was dropped
            elided = metrics.elidedText(own + QChar(0x2026), Qt::ElideRight, width);
        lines.append(elided);
    }
    layout.endLayout();
    return lines;
}

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

QString localizedMessage(const QString &text)
{
    return KavrelLocalizationStore::shared().localizedMessage(text);
}

QString localizedFormat(const QString &format, const QString &argument)
{
    return KavrelLocalizationStore::shared().localizedFormat(format, QStringList(argument));
}

} // namespace KavrelHistoryStyle
