#pragma once

#include "base/KavrelError.h"

#include <QString>

// A failure of the audio server: a fixed text and the server's error number.
class AudioStatusError final : public KavrelError
{
public:
    AudioStatusError(QString text, qint32 status);

    QString text() const { return m_text; }
    qint32 status() const { return m_status; }

    QString message() const override;

private:
    QString m_text;
    qint32 m_status;
};
