#pragma once

#include "kit/KavrelPalette.h"

#include <QImage>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>

class KavrelAvatarLoader;

// The user's round avatar: a disc with a ring, and on it the picture from the avatar address,
// or the initials on a red-to-blue gradient while there is no picture ("?" without initials).
class KavrelAvatarView final : public QWidget
{
    Q_OBJECT

public:
    struct Look
    {
        qreal discSize = 62;
        qreal pictureSize = 54;
        int initialsPixelSize = 18;
        KavrelDynamicColor surface;
        KavrelDynamicColor ring;
    };

    // Without a loader only the initials are ever shown.
    KavrelAvatarView(KavrelAvatarLoader *loader, const Look &look, QWidget *parent = nullptr);

    void setAvatar(const QString &initials, const std::optional<QString> &avatarText);

    QString initials() const { return m_initials; }
    std::optional<QUrl> avatarURL() const { return m_url; }
    bool showsPicture() const { return !m_image.isNull(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void pictureLoaded(const QUrl &url);

    QPointer<KavrelAvatarLoader> m_loader;
    Look m_look;
    QString m_initials;
    std::optional<QUrl> m_url;
    QImage m_image;
};
