#include "RenderedContrast.h"

#include "kit/KavrelPalette.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QTest>
#include <QTextItem>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace RenderedContrast {

namespace {

struct DrawnText
{
    QRectF box; // in the painting widget's coordinates
    QFont font;
    QString text;
};

// A paint engine that draws nothing and keeps every text item it is handed, with its box.
class TextRecorder final : public QPaintEngine
{
public:
    TextRecorder() : QPaintEngine(QPaintEngine::AllFeatures) {}

    QList<DrawnText> texts;

    bool begin(QPaintDevice *) override
    {
        m_transform = QTransform();
        return true;
    }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &state) override
    {
        if (state.state() & QPaintEngine::DirtyTransform)
            m_transform = state.transform();
    }
    void drawTextItem(const QPointF &origin, const QTextItem &item) override
    {
        const QRectF box(origin.x(), origin.y() - item.ascent(), item.width(), item.ascent() + item.descent());
        texts.append({m_transform.mapRect(box), item.font(), item.text()});
    }
    void drawRects(const QRect *, int) override {}
    void drawRects(const QRectF *, int) override {}
    void drawLines(const QLine *, int) override {}
    void drawLines(const QLineF *, int) override {}
    void drawEllipse(const QRectF &) override {}
    void drawEllipse(const QRect &) override {}
    void drawPath(const QPainterPath &) override {}
    void drawPoints(const QPointF *, int) override {}
    void drawPoints(const QPoint *, int) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawPolygon(const QPoint *, int, PolygonDrawMode) override {}
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawTiledPixmap(const QRectF &, const QPixmap &, const QPointF &) override {}
    void drawImage(const QRectF &, const QImage &, const QRectF &, Qt::ImageConversionFlags) override {}
    Type type() const override { return QPaintEngine::User; }

private:
    QTransform m_transform;
};

// A device the size and resolution of one widget, painting into the recorder.
class TextRecordingDevice final : public QPaintDevice
{
public:
    explicit TextRecordingDevice(const QWidget *widget) : m_widget(widget) {}

    QPaintEngine *paintEngine() const override { return &m_engine; }
    QList<DrawnText> texts() const { return m_engine.texts; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return m_widget->width();
        case PdmHeight:
            return m_widget->height();
        case PdmWidthMM:
            return m_widget->widthMM();
        case PdmHeightMM:
            return m_widget->heightMM();
        case PdmNumColors:
            return std::numeric_limits<int>::max();
        case PdmDepth:
            return 32;
        case PdmDpiX:
            return m_widget->logicalDpiX();
        case PdmDpiY:
            return m_widget->logicalDpiY();
        case PdmPhysicalDpiX:
            return m_widget->physicalDpiX();
        case PdmPhysicalDpiY:
            return m_widget->physicalDpiY();
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    const QWidget *m_widget;
    mutable TextRecorder m_engine;
};

// The texts the widget itself paints (its children aside), in its own coordinates.
QList<DrawnText> textsPaintedBy(QWidget *widget)
{
    TextRecordingDevice device(widget);
    widget->render(&device, QPoint(), QRegion(), QWidget::RenderFlags());
    QList<DrawnText> texts;
    for (const DrawnText &text : device.texts()) {
        if (!text.text.trimmed().isEmpty() && !text.box.isEmpty())
            texts.append(text);
    }
    return texts;
}

double ratio(QRgb a, QRgb b)
{
    return kavrelContrastRatio(QColor(a), QColor(b));
}

using Counts = QHash<QRgb, int>;

Counts pixelCounts(const QImage &picture, const QRect &area)
{
    Counts counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[line[x]];
    }
    return counts;
}

QRgb mostCommon(const Counts &counts)
{
    QRgb common = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            common = it.key();
        }
    }
    return common;
}

// The pixel a text is taken to be drawn in: the fourth farthest from the background, so that a
// stray pixel or the thin antialiased edge of a glyph never decides.
constexpr int fewest = 4;

std::optional<QRgb> textPixel(const Counts &counts, QRgb background)
{
    QList<std::pair<double, QRgb>> farthest;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        for (int i = 0; i < std::min(it.value(), fewest); ++i)
            farthest.append({ratio(it.key(), background), it.key()});
    }
    if (farthest.size() < fewest)
        return std::nullopt;
    std::nth_element(farthest.begin(), farthest.begin() + fewest - 1, farthest.end(), std::greater<>());
    return farthest.at(fewest - 1).second;
}

// The pixels along the four sides of an area.
Counts frameCounts(const QImage &picture, const QRect &area)
{
    Counts counts;
    for (const QRect &side : {QRect(area.topLeft(), area.topRight()), QRect(area.bottomLeft(), area.bottomRight()),
                              QRect(area.topLeft(), area.bottomLeft()), QRect(area.topRight(), area.bottomRight())}) {
        const Counts some = pixelCounts(picture, side);
        for (auto it = some.cbegin(); it != some.cend(); ++it)
            counts[it.key()] += it.value();
    }
    return counts;
}

// The contrast of the text in a box of the picture: the most common pixel is the background.
// Where the background changes along the line (a gradient), the text must read on it wherever
// its glyphs stand: the box is judged again in stretches as wide as it is tall, each against
// its own most common pixel among those that are not the text's, where the stretch holds some
// of the text's pixels. On a gradient the text's own colour may be the box's most common
// pixel, so the text is told apart there from what is most common along the box's sides.
double measuredRatio(const QImage &picture, const QRect &box)
{
    const Counts counts = pixelCounts(picture, box);
    const QRgb background = mostCommon(counts);
    const std::optional<QRgb> text = textPixel(counts, background);
    if (!text)
        return 1;
    double lowest = ratio(*text, background);
    const QRgb sides = mostCommon(frameCounts(picture, box));
    const QRgb alongText = sides == background ? *text : textPixel(counts, sides).value_or(*text);
    // Nearer the text than the background, as contrast goes.
    const double nearText = std::sqrt(ratio(alongText, sides));
    const int stretch = std::max(box.height(), 1);
    for (int left = box.left(); left <= box.right(); left += stretch) {
        const QRect area(QPoint(left, box.top()), QPoint(std::min(left + stretch - 1, box.right()), box.bottom()));
        const Counts here = pixelCounts(picture, area);
        Counts ground;
        int glyphPixels = 0;
        for (auto it = here.cbegin(); it != here.cend(); ++it) {
            if (ratio(it.key(), alongText) < nearText)
                glyphPixels += it.value();
            else
                ground[it.key()] += it.value();
        }
        if (glyphPixels >= fewest && !ground.isEmpty())
            lowest = std::min(lowest, ratio(alongText, mostCommon(ground)));
    }
    return lowest;
}

double pixelSize(const QFont &font, const QWidget *widget)
{
    return font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * widget->logicalDpiY() / 72.0;
}

// 4.5 : 1, 3 : 1 for large text. Small text gets a margin: an X server's font rendering draws
// its few pixels thinner and fainter than the offscreen pictures show them.
double wantedRatio(const QFont &font, const QWidget *widget)
{
    const double pixels = pixelSize(font, widget);
    if (pixels >= 24 || (font.weight() >= QFont::Bold && pixels >= 18.66))
        return 3.0;
    return pixels < 13 ? 4.8 : 4.5;
}

bool isControl(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) || qobject_cast<const QLineEdit *>(widget)
           || widget->focusPolicy() != Qt::NoFocus;
}

// Inactive components need no contrast: a disabled control, or anything inside one.
bool isInactiveControl(const QWidget *widget, const QWidget *root)
{
    for (const QWidget *w = widget; w; w = w == root ? nullptr : w->parentWidget()) {
        if (!w->isEnabled() && isControl(w))
            return true;
    }
    return false;
}

// A disabled menu item is an inactive control too, though the menu paints it.
bool isInactiveMenuItem(const QWidget *widget, const QRectF &box)
{
    const auto *menu = qobject_cast<const QMenu *>(widget);
    if (!menu)
        return false;
    const QAction *item = menu->actionAt(box.center().toPoint());
    return item && !item->isEnabled();
}

// The part of the widget that shows in the root, in the root's coordinates: scrolled-out and
// clipped parts of a child are not in the picture.
QRect shownRect(const QWidget *widget, const QWidget *root)
{
    QRect shown = widget->rect().translated(widget->mapTo(root, QPoint()));
    for (const QWidget *w = widget; w != root && shown.isValid();) {
        w = w->parentWidget();
        shown &= w->rect().translated(w->mapTo(root, QPoint()));
    }
    return shown;
}

// The widget a user would name: the item view, not its viewport.
const QWidget *namedWidget(const QWidget *widget)
{
    if (auto *area = qobject_cast<const QAbstractScrollArea *>(widget->parentWidget()); area && area->viewport() == widget)
        return area;
    return widget;
}

QList<QWidget *> shownWidgets(QWidget *root)
{
    QList<QWidget *> widgets{root};
    for (QWidget *child : root->findChildren<QWidget *>()) {
        if (!child->isWindow() && child->isVisibleTo(root))
            widgets.append(child);
    }
    return widgets;
}

} // namespace

QList<Finding> unreadableTexts(QWidget *root, const QImage &picture)
{
    QList<Finding> findings;
    if (picture.isNull() || root->width() <= 0)
        return findings;
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    const double scale = double(pixels.width()) / root->width();
    for (QWidget *widget : shownWidgets(root)) {
        if (isInactiveControl(widget, root))
            continue;
        const QRect shown = shownRect(widget, root);
        if (shown.isEmpty())
            continue;
        const QPoint offset = widget->mapTo(root, QPoint());
        for (const DrawnText &text : textsPaintedBy(widget)) {
            if (isInactiveMenuItem(widget, text.box))
                continue;
            // A line that a scroll area or a window's edge cuts is not judged: what shows of
            // its box may hold none of its glyphs (the scene at another size shows it whole).
            // A scroll area's viewport cuts the lines it paints itself at its own edges; any
            // other widget's box is taken within the widget, as a label's box may stand out of
            // its label by a pixel with every glyph inside.
            const QRectF drawn = text.box.translated(offset);
            const QRectF own = namedWidget(widget) != widget ? drawn : drawn & QRectF(widget->rect().translated(offset));
            const QRectF box = own & QRectF(shown);
            if (box != own)
                continue;
            const QRect inPicture = QRectF(box.x() * scale, box.y() * scale, box.width() * scale, box.height() * scale).toAlignedRect()
                                    & pixels.rect();
            if (inPicture.isEmpty())
                continue;
            const double wanted = wantedRatio(text.font, widget);
            const double measured = measuredRatio(pixels, inPicture);
            if (measured >= wanted)
                continue;
            // One line a widget: its lowest ratio, with the text that has it.
            const QWidget *named = namedWidget(widget);
            const QString name = QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(named->metaObject()->className()), named->objectName());
            auto before = std::find_if(findings.begin(), findings.end(), [&](const Finding &f) { return f.source == widget; });
            if (before == findings.end())
                findings.append({widget, name, text.text, measured, wanted});
            else if (measured < before->ratio)
                *before = {widget, name, text.text, measured, wanted};
        }
    }
    return findings;
}

void verify(QWidget *root, const QImage &picture, const QString &scene)
{
    const QList<Finding> findings = unreadableTexts(root, picture);
    if (findings.isEmpty())
        return;
    QStringList lines;
    for (const Finding &finding : findings) {
        lines.append(QStringLiteral("%1 \"%2\": %3 : 1, wanted %4 : 1")
                         .arg(finding.widget, finding.text)
                         .arg(finding.ratio, 0, 'f', 2)
                         .arg(finding.wanted, 0, 'f', 1));
    }
    const QString message = scene + QStringLiteral(" shows text that cannot be read:\n  ") + lines.join(QStringLiteral("\n  "));
    QTest::qFail(qPrintable(message), __FILE__, __LINE__);
}

} // namespace RenderedContrast
