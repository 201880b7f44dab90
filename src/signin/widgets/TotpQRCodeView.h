#pragma once

#include <QImage>
#include <QWidget>

#include <optional>

// The authenticator's QR code in a 138 px square: the picture of the setup's data URL, sharp
// and scaled to fit on white, or a QR symbol when the URL gives no picture.
class TotpQRCodeView final : public QWidget
{
    Q_OBJECT

public:
    explicit TotpQRCodeView(const std::optional<QString> &dataURL, QWidget *parent = nullptr);

    bool showsPicture() const { return m_image.has_value(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<QImage> m_image;
};
