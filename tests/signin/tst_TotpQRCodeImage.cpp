#include "signin/TotpQRCodeImage.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray pngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A picture that PNG cannot squeeze, so its size follows its pixel count.
QImage noise(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < side; ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    return image;
}

QString dataURL(const QByteArray &bytes, const QString &header = QStringLiteral("data:image/png;base64"))
{
    return header + QLatin1Char(',') + QString::fromLatin1(bytes.toBase64());
}

} // namespace

class tst_TotpQRCodeImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decode_data()
    {
        QTest::addColumn<std::optional<QString>>("url");
        QTest::addColumn<int>("side"); // 0: no picture

        QImage code(21, 21, QImage::Format_Mono);
        code.fill(1);
        code.setPixel(3, 4, 0);
        const QByteArray png = pngOf(code);
        const QString valid = dataURL(png);
        QString broken = valid;
        broken.insert(valid.size() / 2, QLatin1Char('\n'));
        QString spaced = valid;
        spaced.insert(valid.size() / 2, QLatin1Char(' '));
        QByteArray padded = png;
        if (padded.size() % 3 == 0)
            padded.append('\0');
        QString unpadded = dataURL(padded);
        while (unpadded.endsWith(QLatin1Char('=')))
            unpadded.chop(1);

        QTest::newRow("none") << std::optional<QString>() << 0;
        QTest::newRow("no comma") << std::optional<QString>(QString::fromLatin1(png.toBase64())) << 0;
        QTest::newRow("nothing after the comma") << std::optional<QString>(QStringLiteral("data:image/png;base64,")) << 0;
        QTest::newRow("line break") << std::optional<QString>(broken) << 0;
        QTest::newRow("space") << std::optional<QString>(spaced) << 0;
        QTest::newRow("padding left off") << std::optional<QString>(unpadded) << 0;
        QTest::newRow("not an image") << std::optional<QString>(dataURL("just some text")) << 0;
        QTest::newRow("truncated PNG") << std::optional<QString>(dataURL(png.left(20))) << 0;
        QTest::newRow("real PNG") << std::optional<QString>(valid) << 21;
        QTest::newRow("header is not examined") << std::optional<QString>(dataURL(png, QStringLiteral("data:text/plain"))) << 21;
        QTest::newRow("large but under the cap") << std::optional<QString>(dataURL(pngOf(noise(300)))) << 300;
        const QString oversize = dataURL(pngOf(noise(640)));
        QVERIFY(oversize.size() > TotpQRCodeImage::maximumDataURLLength);
        QTest::newRow("over the cap") << std::optional<QString>(oversize) << 0;
    }

    void decode()
    {
        QFETCH(std::optional<QString>, url);
        QFETCH(int, side);
        const std::optional<QImage> image = TotpQRCodeImage::decode(url);
        QCOMPARE(image.has_value(), side > 0);
        if (image)
            QCOMPARE(image->size(), QSize(side, side));
    }

    // A small file that claims a huge picture is refused before its pixels are allocated.
    void claimedSizeIsBounded()
    {
        QImage wide(20000, 20000, QImage::Format_Mono);
        if (wide.isNull())
            QSKIP("cannot build the test picture");
        wide.fill(0);
        const QByteArray png = pngOf(wide);
        QVERIFY(png.size() < 200 * 1024);
        QVERIFY(!TotpQRCodeImage::decode(dataURL(png)));
    }
};

QTEST_MAIN(tst_TotpQRCodeImage)
#include "tst_TotpQRCodeImage.moc"
