#include "localization/KavrelLocalizationStore.h"
#include "screens/KavrelAvatarLoader.h"
#include "screens/KavrelBillingDisplay.h"
#include "screens/KavrelProfileDates.h"

#include <QBuffer>
#include <QImage>
#include <QTest>
#include <QTimeZone>

namespace {

KavrelBillingSummary summaryWith(const QString &status, std::optional<QString> planName, std::optional<QString> planCode,
                                 bool canUseTranscription)
{
    KavrelBillingSummary summary;
    summary.subscription.status = status;
    summary.subscription.planName = std::move(planName);
    summary.subscription.planCode = std::move(planCode);
    summary.usage.canUseTranscription = canUseTranscription;
    summary.usage.includedMinutes = 600;
    return summary;
}

KavrelBillingUsage usage(qint64 included, qint64 used, qint64 remaining, bool limitReached, bool canUse)
{
    KavrelBillingUsage value;
    value.includedMinutes = included;
    value.usedMinutes = used;
    value.remainingMinutes = remaining;
    value.isLimitReached = limitReached;
    value.canUseTranscription = canUse;
    return value;
}

} // namespace

class tst_KavrelBillingDisplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void billingAction_data();
    void billingAction();
    void statusTitles_data();
    void statusTitles();
    void usageSentenceAndBar_data();
    void usageSentenceAndBar();
    void planNameAndPeriodEnd();
    void mediumDates_data();
    void mediumDates();
    void avatarAddresses_data();
    void avatarAddresses();
    void avatarPicturesAreDecodedSmall();
};

void tst_KavrelBillingDisplay::initTestCase()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

void tst_KavrelBillingDisplay::billingAction_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<std::optional<QString>>("planName");
    QTest::addColumn<std::optional<QString>>("planCode");
    QTest::addColumn<bool>("canUse");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<QString>("actionTitle");

    const std::optional<QString> none;
    const auto text = [](const char *value) { return std::optional<QString>(QString::fromUtf8(value)); };
    QTest::newRow("active paid plan") << "active" << text("Pro") << text("pro-monthly") << true << false << "Update";
    QTest::newRow("past due paid plan") << "past_due" << text("Pro") << text("pro") << true << true << "Renew";
    QTest::newRow("past due in capitals") << "PAST_DUE" << text("Pro") << none << true << true << "Renew";
    QTest::newRow("status with spaces") << "  expired " << text("Pro") << none << true << true << "Update";
    QTest::newRow("canceled") << "canceled" << text("Pro") << none << true << true << "Renew";
    QTest::newRow("none") << "none" << none << none << true << true << "Update";
    QTest::newRow("active, free in the name") << "active" << text("Pro FREE beta") << none << true << true << "Update";
    QTest::newRow("active, free in the code") << "active" << text("Starter") << text(" Free-Tier ") << true << true << "Update";
    QTest::newRow("active, no transcription") << "active" << text("Pro") << none << false << true << "Update";
    QTest::newRow("trialing paid plan") << "trialing" << text("Pro") << none << true << false << "Update";
}

void tst_KavrelBillingDisplay::billingAction()
{
    QFETCH(QString, status);
    QFETCH(std::optional<QString>, planName);
    QFETCH(std::optional<QString>, planCode);
    QFETCH(bool, canUse);
    QFETCH(bool, shows);
    QFETCH(QString, actionTitle);
    const KavrelBillingSummary summary = summaryWith(status, planName, planCode, canUse);
    QCOMPARE(KavrelBillingDisplay::showsBillingAction(summary), shows);
    QCOMPARE(KavrelBillingDisplay::billingActionTitle(summary), actionTitle);
}

void tst_KavrelBillingDisplay::statusTitles_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("tint"); // into the status tints; -1: the theme's tertiary text
    QTest::newRow("active") << "active" << "Active" << 0;
    QTest::newRow("trialing") << "Trialing" << "Trialing" << 1;
    QTest::newRow("past due") << "PAST_DUE" << "Past due" << 2;
    QTest::newRow("canceled") << "canceled" << "Canceled" << 3;
    QTest::newRow("expired") << "expired" << "Expired" << 3;
    QTest::newRow("none") << "none" << "No subscription" << -1;
    QTest::newRow("unknown, capitalized word by word") << "paused BY admin" << "Paused By Admin" << -1;
    QTest::newRow("unknown with underscores") << "on_hold" << "On_hold" << -1;
    QTest::newRow("not trimmed") << " active" << " Active" << -1;
}

void tst_KavrelBillingDisplay::statusTitles()
{
    QFETCH(QString, status);
    QFETCH(QString, title);
    QFETCH(int, tint);
    const KavrelBillingSummary summary = summaryWith(status, std::nullopt, std::nullopt, true);
    QCOMPARE(KavrelBillingDisplay::statusTitle(summary, KavrelLocalizationStore::shared()), title);
    const KavrelDynamicColor resolved = KavrelBillingDisplay::statusTint(summary);
    const KavrelDynamicColor tints[] = {KavrelStatusTints::green, KavrelStatusTints::blue, KavrelStatusTints::amber,
                                        KavrelStatusTints::red};
    if (tint >= 0) {
        QCOMPARE(resolved.light, tints[tint].light);
        QCOMPARE(resolved.dark, tints[tint].dark);
    } else {
        QCOMPARE(resolved.light, KavrelProfileTheme::tertiaryText.light);
        QCOMPARE(resolved.dark, KavrelProfileTheme::tertiaryText.dark);
    }
}

void tst_KavrelBillingDisplay::usageSentenceAndBar_data()
{
    QTest::addColumn<KavrelBillingUsage>("usage");
    QTest::addColumn<double>("trackWidth");
    QTest::addColumn<double>("fill");
    QTest::addColumn<QString>("sentence");

    QTest::newRow("nothing used") << usage(600, 0, 600, false, true) << 300.0 << 0.0
                                  << "Used 0 min out of 600 min. 600 min remain in the current billing period.";
    QTest::newRow("a little used gets the stub") << usage(600, 3, 597, false, true) << 300.0 << 10.0
                                                 << "Used 3 min out of 600 min. 597 min remain in the current billing period.";
    QTest::newRow("half") << usage(600, 300, 300, false, true) << 300.0 << 150.0
                          << "Used 300 min out of 600 min. 300 min remain in the current billing period.";
    QTest::newRow("overrun fills the track") << usage(600, 900, 0, true, false) << 300.0 << 300.0
                                             << "Used 900 min out of 600 min. The billing limit has been reached.";
    QTest::newRow("limit flag wins even when transcription is allowed")
        << usage(600, 600, 0, true, true) << 300.0 << 300.0 << "Used 600 min out of 600 min. The billing limit has been reached.";
    QTest::newRow("transcription not allowed") << usage(600, 10, 590, false, false) << 300.0 << 10.0
                                               << "Used 10 min out of 600 min. The billing limit has been reached.";
    QTest::newRow("no included minutes, allowed") << usage(0, 50, 0, false, true) << 300.0 << 0.0
                                                  << "No included minutes are reported yet.";
    QTest::newRow("no included minutes, not allowed") << usage(0, 0, 0, true, false) << 300.0 << 0.0
                                                      << "No included minutes are available for this workspace.";
    QTest::newRow("negative use") << usage(600, -5, 605, false, true) << 300.0 << 0.0
                                  << "Used -5 min out of 600 min. 605 min remain in the current billing period.";
}

void tst_KavrelBillingDisplay::usageSentenceAndBar()
{
    QFETCH(KavrelBillingUsage, usage);
    QFETCH(double, trackWidth);
    QFETCH(double, fill);
    QFETCH(QString, sentence);
    KavrelBillingSummary summary;
    summary.usage = usage;
    QCOMPARE(KavrelBillingDisplay::usageBarFillWidth(usage, trackWidth), fill);
    QCOMPARE(KavrelBillingDisplay::usageDetailText(summary, KavrelLocalizationStore::shared()), sentence);
}

void tst_KavrelBillingDisplay::planNameAndPeriodEnd()
{
    KavrelLocalizationStore &store = KavrelLocalizationStore::shared();
    KavrelBillingSummary summary = summaryWith(QStringLiteral("active"), QStringLiteral("  Pro  "), std::nullopt, true);
    QCOMPARE(KavrelBillingDisplay::planName(summary), QStringLiteral("Pro"));
    summary.subscription.planName = QStringLiteral(" \n");
    QCOMPARE(KavrelBillingDisplay::planName(summary), QStringLiteral("No active plan"));
    summary.subscription.planName.reset();
    QCOMPARE(KavrelBillingDisplay::planName(summary), QStringLiteral("No active plan"));

    QCOMPARE(KavrelBillingDisplay::periodEndText(summary, store), QStringLiteral("—"));
    summary.subscription.currentPeriodEnd = QDateTime(QDate(2026, 3, 14), QTime(12, 0), QTimeZone::utc());
    QCOMPARE(KavrelBillingDisplay::periodEndText(summary, store), QStringLiteral("Mar 14, 2026"));
    store.setLanguage(KavrelAppLanguage::german);
    QCOMPARE(KavrelBillingDisplay::periodEndText(summary, store), QStringLiteral("14.03.2026"));
    store.setLanguage(KavrelAppLanguage::english);

    QCOMPARE(KavrelBillingDisplay::billingURL().scheme(), QStringLiteral("https"));
    QCOMPARE(KavrelBillingDisplay::billingURL().path(), QStringLiteral("/billing"));
}

void tst_KavrelBillingDisplay::mediumDates_data()
{
    QTest::addColumn<KavrelAppLanguage>("language");
    QTest::addColumn<QString>("text");
    QTest::newRow("en") << KavrelAppLanguage::english << "Dec 7, 2026";
    QTest::newRow("ru") << KavrelAppLanguage::russian << "7 дек. 2026 г.";
    QTest::newRow("de") << KavrelAppLanguage::german << "07.12.2026";
    QTest::newRow("es") << KavrelAppLanguage::spanish << "7 dic 2026";
    QTest::newRow("fr") << KavrelAppLanguage::french << "7 déc. 2026";
}

void tst_KavrelBillingDisplay::mediumDates()
{
    QFETCH(KavrelAppLanguage, language);
    QFETCH(QString, text);
    // Midday UTC is the same calendar day in every time zone a test machine runs in.
    const QDateTime date(QDate(2026, 12, 7), QTime(12, 0), QTimeZone::utc());
    QCOMPARE(KavrelProfileDates::profileDisplayDate(date, language), text);
}

void tst_KavrelBillingDisplay::avatarAddresses_data()
{
    QTest::addColumn<std::optional<QString>>("text");
    QTest::addColumn<QString>("url"); // empty: the initials

    const auto text = [](const char *value) { return std::optional<QString>(QString::fromUtf8(value)); };
    QTest::newRow("absent") << std::optional<QString>() << "";
    QTest::newRow("empty") << text("") << "";
    QTest::newRow("blank") << text("  \n ") << "";
    QTest::newRow("https, trimmed") << text("  https://cdn.example.com/a.png\n") << "https://cdn.example.com/a.png";
    QTest::newRow("http") << text("http://127.0.0.1:8080/a.png") << "http://127.0.0.1:8080/a.png";
    QTest::newRow("scheme in capitals") << text("HTTPS://cdn.example.com/a.png") << "https://cdn.example.com/a.png";
    QTest::newRow("file") << text("file:///etc/passwd") << "";
    QTest::newRow("qrc") << text("qrc:/icons/avatar.png") << "";
    QTest::newRow("data") << text("data:image/png;base64,AAAA") << "";
    QTest::newRow("relative path") << text("/avatars/1.png") << "";
    QTest::newRow("no host") << text("https:///a.png") << "";
    QTest::newRow("does not parse") << text("https://exa mple.com/a.png") << "";
    QTest::newRow("ftp") << text("ftp://example.com/a.png") << "";
}

void tst_KavrelBillingDisplay::avatarAddresses()
{
    QFETCH(std::optional<QString>, text);
    QFETCH(QString, url);
    const std::optional<QUrl> resolved = KavrelAvatarLoader::resolvedAvatarURL(text);
    QCOMPARE(resolved ? resolved->toString() : QString(), url);
}

void tst_KavrelBillingDisplay::avatarPicturesAreDecodedSmall()
{
    QImage big(1600, 1200, QImage::Format_RGB32);
    big.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(big.save(&buffer, "PNG"));
    const std::optional<QImage> decoded = KavrelAvatarLoader::decode(bytes);
    QVERIFY(decoded);
    QVERIFY(decoded->width() <= 2 * KavrelAvatarLoader::maximumImageSide);
    QVERIFY(std::min(decoded->width(), decoded->height()) == KavrelAvatarLoader::maximumImageSide);

    QVERIFY(!KavrelAvatarLoader::decode(QByteArrayLiteral("<html>not a picture</html>")));
    QVERIFY(!KavrelAvatarLoader::decode(QByteArray()));
}

QTEST_GUILESS_MAIN(tst_KavrelBillingDisplay)
#include "tst_KavrelBillingDisplay.moc"
