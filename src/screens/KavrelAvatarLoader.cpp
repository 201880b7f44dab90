#include "screens/KavrelAvatarLoader.h"

#include "base/KavrelError.h"
#include "base/Text.h"

#include <QBuffer>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPointer>
#include <QThreadPool>

#include <qcoro/qcorosignal.h>

Q_LOGGING_CATEGORY(kavrelAvatarLog, "app.kavrel.desktop.Avatar")

namespace {

// Carries a decoded picture from the worker thread back to the main thread.
class DecodeRelay final : public QObject
{
    Q_OBJECT

Q_SIGNALS:
    void decoded(std::optional<QImage> image);
};

} // namespace

KavrelAvatarLoader::KavrelAvatarLoader(QObject *parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)), m_transport(m_manager)
{
    m_transport.setMaximumBodySize(maximumImageBytes);
    m_transport.setTimeout(std::chrono::seconds(20));
}

KavrelAvatarLoader::~KavrelAvatarLoader() = default;

std::optional<QUrl> KavrelAvatarLoader::resolvedAvatarURL(const std::optional<QString> &avatarText)
{
    const std::optional<QString> text = Text::nilIfEmpty(avatarText);
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    return url;
}

std::optional<QImage> KavrelAvatarLoader::decode(const QByteArray &bytes)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(64);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > maximumImageSide || size.height() > maximumImageSide))
        reader.setScaledSize(size.scaled(maximumImageSide, maximumImageSide, Qt::KeepAspectRatioByExpanding));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

std::optional<QImage> KavrelAvatarLoader::cachedImage(const QUrl &url) const
{
    const auto found = m_cache.constFind(url);
    if (found == m_cache.constEnd())
        return std::nullopt;
    return *found;
}

QCoro::Task<std::optional<QImage>> KavrelAvatarLoader::load(QUrl url)
{
    if (std::optional<QImage> cached = cachedImage(url))
        co_return cached;
    if (!resolvedAvatarURL(url.toString()))
        co_return std::nullopt;

    QPointer<KavrelAvatarLoader> self(this);
    QByteArray body;
    try {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        const HttpReply reply = co_await m_transport.send(request, QByteArrayLiteral("GET"), std::nullopt);
        if (reply.status < 200 || reply.status > 299) {
            qCInfo(kavrelAvatarLog) << "Avatar request answered with status" << reply.status;
            co_return std::nullopt;
        }
        body = reply.body;
    } catch (const KavrelError &error) {
        qCInfo(kavrelAvatarLog) << "Avatar could not be loaded:" << error.message();
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;

    // Decoding a picture may take a while; it must not hold up the window.
    auto relay = std::make_unique<DecodeRelay>();
    DecodeRelay *target = relay.get();
    // The relay lives until its signal has come: this coroutine waits for nothing else.
    QThreadPool::globalInstance()->start([target, body] {
        std::optional<QImage> image = decode(body);
        QMetaObject::invokeMethod(target, [target, image] { Q_EMIT target->decoded(image); }, Qt::QueuedConnection);
    });
    const std::optional<QImage> image = co_await qCoro(relay.get(), &DecodeRelay::decoded);
    if (!self || !image)
        co_return std::nullopt;
    self->m_cache.insert(url, *image);
    Q_EMIT self->imageLoaded(url);
    co_return image;
}

#include "KavrelAvatarLoader.moc"
