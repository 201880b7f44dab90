#include "session/HandedOverMeetingStore.h"

#include "audio/LocalAudioRecordingService.h"
#include "base/KavrelDiagnostics.h"
#include "base/Json.h"
#include "platform/UserDefaults.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QPointer>
#include <QSaveFile>

#include <algorithm>
#include <exception>

namespace {

QString key()
{
    return QString::fromLatin1(HandedOverMeetingStore::defaultsKey);
}

QString lineOf(const std::optional<QString> &label, const QString &timestamp, const QString &text)
{
    QString line = QLatin1Char('[') + timestamp + QStringLiteral("] ");
    if (label && !label->isEmpty())
        line += *label + QStringLiteral(": ");
    return line + text;
}

} // namespace

HandedOverMeetingStore::HandedOverMeetingStore(UserDefaults &defaults, MeetingHistoryMirror *history,
                                               BillingUsageReporter *billing, QObject *parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_billing(billing)
    , m_textFolder(LocalAudioRecordingService::recordingsFolder())
{
    if (const std::optional<QByteArray> data = m_defaults.dataValue(key())) {
        const QJsonArray entries = QJsonDocument::fromJson(*data).array();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            // One unreadable entry costs that meeting only.
            try {
                m_meetings.append(HandedOverMeeting::fromJson(entries.at(i), QStringLiteral("[%1]").arg(i)));
            } catch (const std::exception &error) {
                qCWarning(KavrelDiagnostics::history()).noquote() << "stored handed-over meeting ignored:" << error.what();
            }
        }
    }
    connect(history, &MeetingHistoryMirror::handedOverMeetingChanged, this, &HandedOverMeetingStore::keep);
    connect(history, &MeetingHistoryMirror::handedOverMeetingReleased, this, &HandedOverMeetingStore::forget);
    history->setRefusedMeetingKeeper([self = QPointer<HandedOverMeetingStore>(this)](const HandedOverMeeting &meeting) {
        return self ? self->writeMeetingText(meeting) : std::nullopt;
    });
    history->resumeHandedOverMeetings(m_meetings);
    if (!m_billing)
        return;
    m_billing->setReportFinishedHandler([self = QPointer<HandedOverMeetingStore>(this)](const QString &eventId) {
        if (self)
            self->forgetUsageEvent(eventId);
    });
    for (const HandedOverMeeting &meeting : std::as_const(m_meetings))
        m_billing->reportKeptEvents(meeting.usageEvents, meeting.accountID ? meeting.accountID : meeting.record.accountID);
}

void HandedOverMeetingStore::keep(const HandedOverMeeting &meeting)
{
    const QUuid generation = meeting.record.conversationGeneration;
    auto found = std::find_if(m_meetings.begin(), m_meetings.end(), [&generation](const HandedOverMeeting &kept) {
        return kept.record.conversationGeneration == generation;
    });
    HandedOverMeeting kept = meeting;
    if (found != m_meetings.end()) {
        kept.usageEvents = found->usageEvents;
    } else if (m_billing) {
        // The stop before the hand-over has just queued the report of its last stretch.
        const QString clientSessionID = BillingUsageReporter::clientSessionID(generation);
        for (const KavrelBillingUsageEvent &event : m_billing->pendingEvents()) {
            if (event.clientSessionId == clientSessionID)
                kept.usageEvents.append(event);
        }
    }
    if (found == m_meetings.end())
        m_meetings.append(kept);
    else if (*found == kept)
        return;
    else
        *found = kept;
    write();
}

void HandedOverMeetingStore::forgetUsageEvent(const QString &eventId)
{
    bool changed = false;
    for (HandedOverMeeting &meeting : m_meetings) {
        changed = meeting.usageEvents.removeIf([&eventId](const KavrelBillingUsageEvent &event) {
                      return event.eventId == eventId;
                  }) > 0
                  || changed;
    }
    if (changed)
        write();
}

void HandedOverMeetingStore::forget(const QUuid &conversationGeneration)
{
    const qsizetype removed = m_meetings.removeIf([&conversationGeneration](const HandedOverMeeting &kept) {
        return kept.record.conversationGeneration == conversationGeneration;
    });
    if (removed > 0)
        write();
}

void HandedOverMeetingStore::write()
{
    if (m_meetings.isEmpty()) {
        m_defaults.remove(key());
    } else {
        QJsonArray entries;
        for (const HandedOverMeeting &meeting : m_meetings)
            entries.append(meeting.toJson());
        m_defaults.setData(key(), QJsonDocument(entries).toJson(QJsonDocument::Compact));
    }
    // On disk now, not at the next turn of the event loop: the draft this meeting came from is
    // cleared right after the hand-over, and a crash in between must find it here.
    m_defaults.sync();
}

std::optional<QString> HandedOverMeetingStore::writeMeetingText(const HandedOverMeeting &meeting) const
{
    const MeetingSessionHistorySnapshot &snapshot = meeting.finalSnapshot;
    QStringList lines;
    if (snapshot.title)
        lines << *snapshot.title << QString();
    for (const MeetingSessionTranscriptBlock &block : snapshot.transcriptBlocks)
        lines << lineOf(block.speakerLabel, block.timestamp, block.text);
    if (!snapshot.translationBlocks.isEmpty())
        lines << QString();
    for (const MeetingSessionTranslationBlock &block : snapshot.translationBlocks)
        lines << block.text;
    for (const std::optional<QString> &text : {snapshot.summaryText, snapshot.protocolText, snapshot.suggestedAnswerText}) {
        if (text)
            lines << QString() << *text;
    }

    if (!QDir().mkpath(m_textFolder))
        return std::nullopt;
    const QString stem = QStringLiteral("Meeting-")
                         + QLocale::c().toString(snapshot.startedAt.toLocalTime(), QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString path = QDir(m_textFolder).filePath(stem + QStringLiteral(".txt"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(m_textFolder).filePath(stem + QStringLiteral("-%1.txt").arg(n));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!file.commit())
        return std::nullopt;
    return path;
}
