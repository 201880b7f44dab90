#pragma once

#ifndef Q_MOC_RUN
#include "base/Async.h"
#endif
#include "platform/HttpTransport.h"

#include <QHash>
#include <QImage>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <optional>

// Avatar pictures of the signed-in user. A server's avatar text is only ever fetched over
// http or https: any other scheme (a file or resource path among them) shows the initials.
// The picture is at most maximumImageBytes, decoded on a worker thread and scaled down to
// maximumImageSide; anything that fails shows the initials. Loaded pictures are kept for the
// process by their address. Main thread only.
class KavrelAvatarLoader final : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maximumImageBytes = 2 * 1024 * 1024;
    static constexpr int maximumImageSide = 256;

    explicit KavrelAvatarLoader(QObject *parent = nullptr);
    ~KavrelAvatarLoader() override;

    // The address of an avatar text: trimmed, and only an absolute http(s) URL with a host.
    static std::optional<QUrl> resolvedAvatarURL(const std::optional<QString> &avatarText);
    // Decodes picture bytes; nothing for what is no picture.
    static std::optional<QImage> decode(const QByteArray &bytes);

    // The picture already loaded from the address, if any.
    std::optional<QImage> cachedImage(const QUrl &url) const;
    // Loads the picture; nothing when it cannot be had. Never throws.
    QCoro::Task<std::optional<QImage>> load(QUrl url);

    void setTimeout(std::chrono::milliseconds timeout) { m_transport.setTimeout(timeout); }

Q_SIGNALS:
    // A picture finished loading (for views that show the same address).
    void imageLoaded(const QUrl &url);

private:
    QNetworkAccessManager *m_manager;
    HttpTransport m_transport;
    QHash<QUrl, QImage> m_cache;
};
