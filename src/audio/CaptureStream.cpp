#include "audio/CaptureStream.h"

CaptureStream::CaptureStream(QObject *owner, StoppedHandler stopped)
    : m_owner(owner)
    , m_stopped(std::move(stopped))
{
}

CaptureStream::~CaptureStream()
{
    close();
}

PulseAudioRecordStream *CaptureStream::replace(std::shared_ptr<PulseAudioContext> context, const QString &name)
{
    close();
    m_stream = std::make_unique<PulseAudioRecordStream>(std::move(context), name);
    ++m_serial;
    return m_stream.get();
}

PulseAudioRecordStream::FailureCallback CaptureStream::failureCallback() const
{
    QPointer<QObject> owner = m_owner;
    const CaptureStream *self = this;
    const quint64 serial = m_serial;
    // Runs on the server's thread; the owner's thread decides. This object lives as long as
    // its owner, so the owner's pointer guards both.
    return [owner, self, serial](int error) {
        QMetaObject::invokeMethod(
            owner.data(),
            [owner, self, serial, error] {
                if (owner && self->m_serial == serial && self->m_stream)
                    self->m_stopped(error);
            },
            Qt::QueuedConnection);
    };
}

void CaptureStream::discard(const PulseAudioRecordStream *stream)
{
    if (m_stream.get() == stream)
        m_stream.reset();
}

int CaptureStream::close()
{
    int error = 0;
    if (m_stream)
        error = m_stream->disconnect();
    m_stream.reset();
    return error;
}
