// The contrast of every text colour against what it is drawn on, light and dark, computed from
// the palette and the screens' own colour tables: at least 4.5 : 1 for body text and 3 : 1 for
// large text (24 px, or 18.7 px bold), the usual accessibility thresholds. A translucent
// surface is laid over what lies under it; a gradient is checked at both of its ends.
// The screenshot scenes measure the same in their rendered pictures; the last test here shows
// that measurement finds what it should and nothing else.

#include "history/widgets/KavrelHistoryStyle.h"
#include "kit/KavrelPalette.h"
#include "screens/KavrelBillingDisplay.h"
#include "signin/widgets/SignInTheme.h"
#include "support/RenderedContrast.h"

#include <QBoxLayout>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTextEdit>
#include <QTest>

#include <cmath>

namespace {

struct Layer
{
    KavrelDynamicColor color;
    double opacity = 1;
};

// One text as a screen draws it: its colour, then what lies under it from the top down to the
// opaque background, whose alternatives are the ends of a gradient.
struct TextOn
{
    const char *what;
    Layer text;
    QList<Layer> surfaces;
    QList<KavrelDynamicColor> background;
    bool large = false;
};

QColor over(const QColor &top, const QColor &bottom)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)), float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

double ratio(const QColor &a, const QColor &b)
{
    return kavrelContrastRatio(a, b);
}

QColor resolved(const Layer &layer, KavrelColorScheme scheme)
{
    QColor color = layer.color.resolve(scheme);
    color.setAlphaF(float(color.alphaF() * layer.opacity));
    return color;
}

// The lowest ratio of the text over any end of its background.
double worstRatio(const TextOn &row, KavrelColorScheme scheme)
{
    double worst = 1e9;
    for (const KavrelDynamicColor &base : row.background) {
        QColor surface = base.resolve(scheme);
        surface.setAlphaF(1);
        for (auto layer = row.surfaces.crbegin(); layer != row.surfaces.crend(); ++layer)
            surface = over(resolved(*layer, scheme), surface);
        worst = std::min(worst, ratio(over(resolved(row.text, scheme), surface), surface));
    }
    return worst;
}


// Every text of the screens with what it is drawn on.
QList<TextOn> makeTexts()
{
    using namespace KavrelSystemColors;
    namespace Settings = KavrelSettingsTheme;
    namespace Shell = KavrelShellTheme;
    namespace Profile = KavrelProfileTheme;
    namespace History = KavrelHistoryTheme;
    namespace HistoryStyle = KavrelHistoryStyle;
    const QList<KavrelDynamicColor> settingsBackground{Settings::backgroundTop, Settings::backgroundBottom};
    const QList<KavrelDynamicColor> shellBackground{Shell::shellTop, Shell::shellBottom};
    const QList<KavrelDynamicColor> sidebar{Shell::sidebarTop, Shell::sidebarBottom};
    const QList<KavrelDynamicColor> signInBackground{SignInTheme::backgroundTop, SignInTheme::backgroundBottom};
    const QList<KavrelDynamicColor> onboarding{SignInTheme::onboardingStop1, SignInTheme::onboardingStop2,
                                               SignInTheme::onboardingStop3};
    const Layer settingsPanel{Settings::panelFill};
    const Layer settingsControl{Settings::controlFill};
    const Layer profileCard{Profile::cardFill};
    const Layer historyCard{History::cardFill};
    const Layer signInCard{SignInTheme::cardFill};

    QList<TextOn> rows{
        // Settings window.
        {"settings title", {Settings::primaryText}, {}, settingsBackground, true},
        {"settings panel title", {Settings::primaryText}, {settingsPanel}, settingsBackground},
        {"settings row title", {Settings::primaryText}, {settingsControl, settingsPanel}, settingsBackground},
        {"settings description", {Settings::secondaryText}, {settingsControl, settingsPanel}, settingsBackground},
        {"settings theme option", {Settings::secondaryText}, {settingsControl, settingsPanel}, settingsBackground},
        {"settings chosen theme", {Settings::accent}, {{Settings::selectedControlFill}, settingsControl, settingsPanel},
         settingsBackground},
        // Workspace shell's sidebar.
        {"sidebar caption", {Shell::buttonText}, {{Shell::buttonFill}}, sidebar},
        {"sidebar chosen caption", {Shell::selectedButtonText}, {{Shell::selectedButtonFill}}, sidebar},
        // Profile.
        {"profile title", {Profile::primaryText}, {}, shellBackground, true},
        {"profile subtitle", {Profile::secondaryText}, {}, shellBackground},
        {"profile card text", {Profile::primaryText}, {profileCard}, shellBackground},
        {"profile card secondary", {Profile::secondaryText}, {profileCard}, shellBackground},
        {"profile card tertiary", {Profile::tertiaryText}, {profileCard}, shellBackground},
        {"profile info row", {Profile::secondaryText}, {{Profile::subtlePanelFill}, profileCard}, shellBackground},
        {"profile sign-out button", {Profile::signOutText}, {{Profile::signOutText, 0.1}, profileCard}, shellBackground},
        {"profile refresh button", {Profile::primaryText}, {{Profile::secondaryText, 0.1}, profileCard}, shellBackground},
        // History list and detail.
        {"history title", {History::primaryText}, {}, shellBackground, true},
        {"history subtitle", {History::secondaryText}, {}, shellBackground},
        {"history card title", {History::primaryText}, {historyCard}, shellBackground},
        {"history card preview", {History::secondaryText}, {historyCard}, shellBackground},
        {"history meta pill", {History::secondaryText}, {{History::elevatedFill}, historyCard}, shellBackground},
        {"history status pill off", {History::neutralTint}, {{History::neutralTint, 0.1}, historyCard}, shellBackground},
        {"history delete button", {HistoryStyle::deleteForeground}, {{HistoryStyle::deleteFill}, historyCard},
         shellBackground},
        {"history footer status", {History::secondaryText}, {}, shellBackground},
        {"history footer languages", {History::tertiaryText}, {}, shellBackground},
        {"history tab", {History::secondaryText}, {{History::elevatedFill}}, shellBackground},
        {"history count badge", {HistoryStyle::accent}, {{History::accentFill}}, shellBackground},
        {"history error card", {History::primaryText}, {{HistoryStyle::standardRed, 0.08}}, shellBackground},
        {"history retry button", {HistoryStyle::errorRed}, {{HistoryStyle::errorRed, 0.14}, {HistoryStyle::standardRed, 0.08}},
         shellBackground},
        {"history summary error", {HistoryStyle::errorRed}, {historyCard}, shellBackground},
        // Sign-in screen.
        {"sign-in title", {label}, {}, signInBackground, true},
        {"sign-in subtitle", {secondaryLabel}, {}, signInBackground},
        {"sign-in step title", {label}, {signInCard}, signInBackground},
        {"sign-in field label", {secondaryLabel}, {signInCard}, signInBackground},
        {"sign-in link", {accent}, {signInCard}, signInBackground},
        {"sign-in footer note", {secondaryLabel}, {signInCard}, signInBackground},
        {"sign-in error strip", {secondaryLabel}, {{SignInTheme::errorTint, 0.08}, signInCard}, signInBackground},
        {"sign-in progress strip", {secondaryLabel}, {{SignInTheme::progressTint, 0.08}, signInCard}, signInBackground},
        {"sign-in code-sent strip", {secondaryLabel}, {{SignInTheme::codeSentTint, 0.08}, signInCard}, signInBackground},
        {"sign-in button", {kavrelFixed({1, 1, 1, 1})}, {}, {SignInTheme::buttonLeading, SignInTheme::buttonTrailing}},
        // Permissions onboarding.
        {"onboarding title", {label}, {}, onboarding, true},
        {"onboarding subtitle", {secondaryLabel}, {}, onboarding},
        {"onboarding card text", {secondaryLabel}, {{SignInTheme::permissionCardFill}}, onboarding},
        {"onboarding call to action", {kavrelFixed({1, 1, 1, 1})}, {{SignInTheme::greenButton, 0.82}}, onboarding},
        {"sign-in placeholder", {secondaryLabel}, {signInCard}, signInBackground},
        // The live transcript.
        {"transcript time stamp", {secondaryLabel}, {{secondaryLabel, 0.1}}, {textBackground}},
        {"transcript language badge", {accent}, {{accent, 0.1}}, {textBackground}},
    };
    // Pills and badges whose text is their tint, on a faint fill of it.
    const QPair<const char *, KavrelDynamicColor> pills[] = {
        {"history pill translation on", HistoryStyle::translationTint}, {"history pill recording on", HistoryStyle::recordingTint},
        {"history pill summary ready", HistoryStyle::summaryTint},      {"history pill protocol ready", HistoryStyle::protocolTint},
        {"history pill reply draft ready", HistoryStyle::replyDraftTint}};
    for (const auto &[what, tint] : pills)
        rows.append(TextOn{what, {tint}, {{tint, 0.1}, historyCard}, shellBackground});
    rows.append(TextOn{"profile badge", {KavrelStatusTints::amber}, {{KavrelStatusTints::amber, 0.1}, profileCard}, shellBackground});
    rows.append(TextOn{"profile error card button", {KavrelStatusTints::red},
                       {{KavrelStatusTints::red, 0.1}, {KavrelStatusTints::red, 0.08}, profileCard}, shellBackground});
    // The profile's billing status badges.
    for (const char *status : {"active", "trialing", "past_due", "canceled"}) {
        KavrelBillingSummary summary;
        summary.subscription.status = QString::fromLatin1(status);
        const KavrelDynamicColor tint = KavrelBillingDisplay::statusTint(summary);
        rows.append(TextOn{status, {tint}, {{tint, 0.1}, profileCard}, shellBackground});
    }
    return rows;
}

const QList<TextOn> &texts()
{
    static const QList<TextOn> all = makeTexts();
    return all;
}

// A painted badge: an optional dark symbol, then its text in one colour on a fill.
class PaintedBadge final : public QWidget
{
public:
    PaintedBadge(QString text, QColor foreground, QColor fill, bool symbol)
        : m_text(std::move(text)), m_foreground(foreground), m_fill(fill), m_symbol(symbol)
    {
        setFixedSize(160, 28);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_fill);
        if (m_symbol)
            painter.fillRect(QRect(4, 4, 20, 20), Qt::black);
        painter.setPen(m_foreground);
        painter.drawText(rect().adjusted(30, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, m_text);
    }

private:
    QString m_text;
    QColor m_foreground;
    QColor m_fill;
    bool m_symbol;
};

// A button's face: white bold text across a gradient from one colour to another.
class GradientFace final : public QWidget
{
public:
    GradientFace(QColor from, QColor to) : m_from(from), m_to(to) { setFixedSize(220, 36); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QLinearGradient gradient(rect().topLeft(), rect().topRight());
        gradient.setColorAt(0, m_from);
        gradient.setColorAt(1, m_to);
        painter.fillRect(rect(), gradient);
        QFont font = this->font();
        font.setPixelSize(15);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(8, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Stop listening now"));
    }

private:
    QColor m_from;
    QColor m_to;
};

QFont sized(int pixels, bool bold = false)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QWidget *colouredLabel(const QString &text, const QColor &color, const QFont &font)
{
    auto *label = new QLabel(text);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

const QColor pale(0x99, 0x99, 0x99); // 2.85 : 1 on white
const QColor midGrey(0x80, 0x80, 0x80); // 3.95 : 1 on white
const QColor darkGrey(0x75, 0x75, 0x75); // 4.61 : 1 on white

// Small scenes on white, each with one text that is unreadable or none.
struct RenderedScene
{
    const char *what;
    QWidget *(*make)();
    bool unreadable;
};

const RenderedScene renderedScenes[] = {
    {"black label", [] { return colouredLabel(QStringLiteral("Readable"), Qt::black, sized(13)); }, false},
    {"pale label", [] { return colouredLabel(QStringLiteral("Pale"), pale, sized(13)); }, true},
    {"mid grey, body size", [] { return colouredLabel(QStringLiteral("Body"), midGrey, sized(18)); }, true},
    {"mid grey, large", [] { return colouredLabel(QStringLiteral("Large"), midGrey, sized(24)); }, false},
    {"mid grey, large bold", [] { return colouredLabel(QStringLiteral("Bold"), midGrey, sized(19, true)); }, false},
    {"mid grey, bold below large", [] { return colouredLabel(QStringLiteral("Bold"), midGrey, sized(17, true)); }, true},
    // Small text draws fainter on a real screen than in these pictures: it needs a margin.
    {"dark grey, small", [] { return colouredLabel(QStringLiteral("Small"), darkGrey, sized(11)); }, true},
    {"dark grey, body size", [] { return colouredLabel(QStringLiteral("Body"), darkGrey, sized(13)); }, false},
    // Wherever the glyphs stand on a gradient, not only where most of it is.
    {"white on a gradient that pales at its end",
     [] { return static_cast<QWidget *>(new GradientFace(QColor(0x9c, 0x1e, 0x20), QColor(0xee, 0x80, 0x80))); }, true},
    {"white on a dark gradient",
     [] { return static_cast<QWidget *>(new GradientFace(QColor(0x9c, 0x1e, 0x20), QColor(0xb8, 0x24, 0x26))); }, false},
    {"white on light green badge",
     [] { return static_cast<QWidget *>(new PaintedBadge(QStringLiteral("Ready"), Qt::white, QColor(0x4c, 0xc0, 0x7a), false)); },
     true},
    {"white on dark green badge with a symbol",
     [] { return static_cast<QWidget *>(new PaintedBadge(QStringLiteral("Ready"), Qt::white, QColor(0x17, 0x6b, 0x4a), true)); },
     false},
    // The black symbol beside the text must not count as the text.
    {"black symbol beside pale text",
     [] { return static_cast<QWidget *>(new PaintedBadge(QStringLiteral("Granted"), pale, Qt::white, true)); }, true},
    {"pale placeholder",
     [] {
         auto *field = new QLineEdit;
         field->setPlaceholderText(QStringLiteral("name@company.com"));
         QPalette palette = field->palette();
         palette.setColor(QPalette::PlaceholderText, pale);
         palette.setColor(QPalette::Base, Qt::white);
         field->setPalette(palette);
         return static_cast<QWidget *>(field);
     },
     true},
    {"pale button",
     [] {
         auto *button = new QPushButton(QStringLiteral("Continue"));
         QPalette palette = button->palette();
         palette.setColor(QPalette::ButtonText, pale);
         palette.setColor(QPalette::Button, Qt::white);
         button->setPalette(palette);
         return static_cast<QWidget *>(button);
     },
     true},
    // A scrolled text shows only the top of its last line: its box there holds no glyph.
    {"line cut by the text view's edge",
     [] {
         auto *view = new QTextEdit;
         view->setFrameShape(QFrame::NoFrame);
         view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
         view->setFont(sized(13));
         view->document()->setDocumentMargin(0);
         view->setPlainText(QStringLiteral("Readable\nsomeone is over a moor"));
         QPalette palette = view->palette();
         palette.setColor(QPalette::Text, Qt::black);
         palette.setColor(QPalette::Base, Qt::white);
         view->setPalette(palette);
         view->setFixedHeight(QFontMetrics(view->font()).lineSpacing() + 2);
         return static_cast<QWidget *>(view);
     },
     false},
    // Inactive components need no contrast.
    {"disabled button",
     [] {
         auto *button = new QPushButton(QStringLiteral("Continue"));
         QPalette palette = button->palette();
         palette.setColor(QPalette::Disabled, QPalette::ButtonText, pale);
         palette.setColor(QPalette::Disabled, QPalette::Button, Qt::white);
         button->setPalette(palette);
         button->setEnabled(false);
         return static_cast<QWidget *>(button);
     },
     false},
};

} // namespace

class tst_TextContrast : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyTextIsReadable_data();
    void everyTextIsReadable();
    void ratioArithmetic();
    void readableTintKeepsItsHue_data();
    void readableTintKeepsItsHue();
    void renderedTextsAreMeasured_data();
    void renderedTextsAreMeasured();
};

void tst_TextContrast::everyTextIsReadable_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("scheme");
    for (int row = 0; row < texts().size(); ++row) {
        for (KavrelColorScheme scheme : {KavrelColorScheme::light, KavrelColorScheme::dark}) {
            const QString name = QStringLiteral("%1, %2").arg(QString::fromLatin1(texts().at(row).what),
                                                               scheme == KavrelColorScheme::dark ? "dark" : "light");
            QTest::newRow(qPrintable(name)) << row << int(scheme);
        }
    }
}

void tst_TextContrast::everyTextIsReadable()
{
    QFETCH(int, row);
    QFETCH(int, scheme);
    const TextOn &text = texts().at(row);
    const double minimum = text.large ? 3.0 : 4.5;
    const double measured = worstRatio(text, KavrelColorScheme(scheme));
    QVERIFY2(measured >= minimum, qPrintable(QStringLiteral("%1 : 1, wanted %2 : 1").arg(measured, 0, 'f', 2).arg(minimum)));
}

void tst_TextContrast::ratioArithmetic()
{
    // The end points of the scale, and a mid grey as the accessibility guidelines give it.
    QCOMPARE(ratio(Qt::black, Qt::white), 21.0);
    QCOMPARE(ratio(Qt::white, Qt::white), 1.0);
    QCOMPARE(std::round(ratio(QColor(0x77, 0x77, 0x77), Qt::white) * 100) / 100, 4.48);
    // Half-transparent black over white is that grey's neighbour.
    QVERIFY(std::abs(over(QColor::fromRgbF(0, 0, 0, 0.5f), Qt::white).redF() - 0.5) < 0.01);
}

void tst_TextContrast::readableTintKeepsItsHue_data()
{
    QTest::addColumn<QColor>("tint");
    QTest::addColumn<QColor>("surface");
    QTest::addColumn<bool>("changes");
    const QColor green = QColor::fromRgbF(0.10f, 0.62f, 0.45f);
    const QColor orange = QColor::fromRgbF(0.90f, 0.50f, 0.0f);
    const QColor lightPlate = QColor(0xef, 0xef, 0xf1);
    const QColor darkPlate = QColor(0x2d, 0x2e, 0x31);
    QTest::newRow("green on light, darker") << green << lightPlate << true;
    QTest::newRow("green on dark, lighter") << green << darkPlate << true;
    QTest::newRow("orange on light, darker") << orange << lightPlate << true;
    QTest::newRow("orange on dark, as it is") << orange << darkPlate << false;
    QTest::newRow("grey on white, darker") << QColor(0x99, 0x99, 0x99) << QColor(Qt::white) << true;
}

void tst_TextContrast::readableTintKeepsItsHue()
{
    QFETCH(QColor, tint);
    QFETCH(QColor, surface);
    QFETCH(bool, changes);
    const QColor readable = kavrelReadableOn(tint, surface);
    QVERIFY2(ratio(readable, surface) >= 4.5, qPrintable(QString::number(ratio(readable, surface))));
    QCOMPARE(readable != tint, changes);
    QCOMPARE(readable.hslHue(), tint.hslHue());
    // Only as far as it must: a little less change would not read.
    if (changes) {
        const double step = readable.lightnessF() < tint.lightnessF() ? 0.02 : -0.02;
        const QColor less = QColor::fromHslF(tint.hslHueF(), tint.hslSaturationF(), readable.lightnessF() + step);
        QVERIFY(ratio(less, surface) < 4.5);
    }
}

void tst_TextContrast::renderedTextsAreMeasured_data()
{
    QTest::addColumn<int>("scene");
    QTest::addColumn<bool>("unreadable");
    for (int row = 0; row < int(std::size(renderedScenes)); ++row)
        QTest::newRow(renderedScenes[row].what) << row << renderedScenes[row].unreadable;
}

void tst_TextContrast::renderedTextsAreMeasured()
{
    QFETCH(int, scene);
    QFETCH(bool, unreadable);
    QWidget root;
    root.setAutoFillBackground(true);
    QPalette palette = root.palette();
    palette.setColor(QPalette::Window, Qt::white);
    root.setPalette(palette);
    auto *layout = new QVBoxLayout(&root);
    layout->addWidget(renderedScenes[scene].make());
    // Beside every case a readable label, which must never be named.
    layout->addWidget(colouredLabel(QStringLiteral("Always readable"), Qt::black, sized(13)));
    root.resize(240, 120);
    layout->activate();

    // As the screenshots are taken: at device pixel ratio 2.
    QImage picture(root.size() * 2, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(2);
    picture.fill(Qt::transparent);
    root.render(&picture);

    const QList<RenderedContrast::Finding> findings = RenderedContrast::unreadableTexts(&root, picture);
    QStringList named;
    for (const auto &finding : findings)
        named.append(finding.text + QStringLiteral(" %1").arg(finding.ratio, 0, 'f', 2));
    QVERIFY2(findings.size() == (unreadable ? 1 : 0), qPrintable(named.join(QStringLiteral(", "))));
}

QTEST_MAIN(tst_TextContrast)
#include "tst_TextContrast.moc"
