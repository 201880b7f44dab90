#include "AudioServerOutage.h"

#include "TestAudio.h"

#include <QDebug>
#include <QThread>

namespace {

const QString protocolModule = QStringLiteral("module-native-protocol-unix");

// The index of the server's usual client socket module (the one without a socket path).
QString mainProtocolModule()
{
    const std::optional<QString> modules =
        TestAudio::pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
    if (!modules)
        return QString();
    for (const QString &line : modules->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() >= 2 && fields.at(1) == protocolModule
            && (fields.size() < 3 || !fields.at(2).contains(QStringLiteral("socket="))))
            return fields.at(0);
    }
    return QString();
}

} // namespace

AudioServerOutage::AudioServerOutage()
{
    const QString mainModule = mainProtocolModule();
    if (mainModule.isEmpty() || !m_folder.isValid()) {
        qWarning() << "audio server outage: the server's client socket module was not found";
        return;
    }
    const QString sidePath = m_folder.filePath(QStringLiteral("side"));
    const std::optional<QString> side =
        TestAudio::pactl({QStringLiteral("load-module"), protocolModule, QStringLiteral("socket=") + sidePath});
    if (!side)
        return;
    m_sideModule = side->trimmed();
    m_sideServer = QStringLiteral("--server=unix:") + sidePath;
    // Unloading the module drops every connection it accepted.
    m_active = TestAudio::pactl({m_sideServer, QStringLiteral("unload-module"), mainModule}).has_value();
}

AudioServerOutage::~AudioServerOutage()
{
    restore();
    if (!m_sideModule.isEmpty())
        TestAudio::pactl({QStringLiteral("unload-module"), m_sideModule});
}

bool AudioServerOutage::restore()
{
    if (!m_active)
        return true;
    if (!TestAudio::pactl({m_sideServer, QStringLiteral("load-module"), protocolModule}))
        return false;
    m_active = false;
    for (int i = 0; i < 50; ++i) {
        if (TestAudio::pactl({QStringLiteral("info")}))
            return true;
        QThread::msleep(100);
    }
    return false;
}

std::optional<QString> AudioServerOutage::pactl(const QStringList &arguments) const
{
    if (m_sideServer.isEmpty())
        return std::nullopt;
    return TestAudio::pactl(QStringList{m_sideServer} + arguments);
}
