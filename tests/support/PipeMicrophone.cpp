#include "support/PipeMicrophone.h"

#include "support/TestAudio.h"

#include <QtGlobal>

#include <cerrno>
#include <cmath>
#include <numbers>

#include <fcntl.h>
#include <unistd.h>

PipeMicrophone::PipeMicrophone(const QString &source, const QString &pipe, double slowdown)
{
    m_module = TestAudio::pactl({QStringLiteral("load-module"), QStringLiteral("module-pipe-source"),
                                 QStringLiteral("source_name=") + source, QStringLiteral("file=") + pipe,
                                 QStringLiteral("format=s16le"), QStringLiteral("rate=%1").arg(rate), QStringLiteral("channels=1"),
                                 QStringLiteral("source_properties=device.description=Kavrel-Slow-Microphone")});
    if (m_module)
        m_thread = std::thread([this, path = pipe.toStdString(), slowdown] { run(path, slowdown); });
}

PipeMicrophone::~PipeMicrophone()
{
    stop();
    if (m_module)
        TestAudio::pactl({QStringLiteral("unload-module"), m_module->trimmed()});
}

void PipeMicrophone::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<PipeMicrophone::Stretch> PipeMicrophone::starved() const
{
    const std::lock_guard lock(m_mutex);
    return m_starved;
}

void PipeMicrophone::run(const std::string &path, double slowdown)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return;
    constexpr int block = rate / 100;
    const auto period = std::chrono::duration<double>(0.01 * (1.0 + slowdown));
    const auto start = Clock::now();
    std::vector<qint16> samples(block);
    qint64 written = 0;
    for (qint64 n = 0; !m_stop; ++n) {
        for (int i = 0; i < block; ++i, ++written)
            samples[std::size_t(i)] = qint16(8000 * std::sin(2 * std::numbers::pi * toneFrequency * double(written) / rate));
        const auto due = start + std::chrono::duration_cast<Clock::duration>(period * double(n));
        const auto now = Clock::now();
        if (now - due >= starvedAfter) {
            const std::lock_guard lock(m_mutex);
            if (!m_starved.empty() && m_starved.back().to >= due)
                m_starved.back().to = now;
            else
                m_starved.push_back(Stretch{due, now});
        }
        if (::write(fd, samples.data(), samples.size() * 2) < 0 && errno != EAGAIN)
            break;
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(period * double(n + 1)));
    }
    ::close(fd);
}
