#include "audio/AudioStatusError.h"

AudioStatusError::AudioStatusError(QString text, qint32 status)
    : m_text(std::move(text))
    , m_status(status)
{
}

QString AudioStatusError::message() const
{
    return m_text + QStringLiteral(" OSStatus: ") + QString::number(m_status);
}
