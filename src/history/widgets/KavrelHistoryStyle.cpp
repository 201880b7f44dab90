#include "history/widgets/KavrelHistoryStyle.h"

#include "app/KavrelLocalizationStore.h"

#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QStringList>

namespace KavrelHistoryStyle {

namespace {

// Follows the palette: the colour is resolved whenever the label's palette changes.
class ColoredLabel final : public QLabel
{
public:
    ColoredLabel(KavrelDynamicColor color, QWidget *parent) : QLabel(parent), m_color(color) { applyColor(); }
    void setColor(KavrelDynamicColor color)
    {
        m_color = color;
        applyColor();
    }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange && !m_applying)
            applyColor();
        QLabel::changeEvent(event);
    }

private:
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

void setLabelColor(QLabel *label, KavrelDynamicColor color)
{
    if (auto *colored = dynamic_cast<ColoredLabel *>(label))
        colored->setColor(color);
}

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

QString localizedFormat(const QString &format, const QString &argument)
{
    return KavrelLocalizationStore::shared().localizedFormat(format, QStringList(argument));
}

} // namespace KavrelHistoryStyle
