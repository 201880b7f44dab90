#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

// Log lines of the program's categories, "<category> <message>", while an instance lives, with
// the level and the moment each was logged at. Lines may come from any thread.
class LogCapture
{
public:
    using Clock = std::chrono::steady_clock;

    LogCapture()
    {
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
        // The program's categories drop debug lines unless asked for them.
        QLoggingCategory::setFilterRules(QStringLiteral("app.kavrel.desktop.*.debug=true"));
    }
    ~LogCapture()
    {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        const std::lock_guard lock(m_mutex);
        QStringList lines;
        for (const Line &line : m_lines)
            lines.append(line.text);
        return lines;
    }
    bool contains(const QString &text) const { return count(text) > 0; }
    int count(const QString &text) const
    {
        const std::lock_guard lock(m_mutex);
        int found = 0;
        for (const Line &line : m_lines)
            found += line.text.contains(text) ? 1 : 0;
        return found;
    }
    // The lines of that level.
    QStringList linesAt(QtMsgType level) const
    {
        const std::lock_guard lock(m_mutex);
        QStringList lines;
        for (const Line &line : m_lines) {
            if (line.level == level)
                lines.append(line.text);
        }
        return lines;
    }
    // When the last line holding the text was logged.
    std::optional<Clock::time_point> lastTimeOf(const QString &text) const
    {
        const std::lock_guard lock(m_mutex);
        for (auto line = m_lines.rbegin(); line != m_lines.rend(); ++line) {
            if (line->text.contains(text))
                return line->at;
        }
        return std::nullopt;
    }
    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    static LogCapture *&instance()
    {
        static LogCapture *current = nullptr;
        return current;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        LogCapture *capture = instance();
        const QString category = QString::fromLatin1(context.category ? context.category : "");
        const bool program = category.startsWith(QLatin1String("app.kavrel.desktop"));
        if (capture && program) {
            const std::lock_guard lock(capture->m_mutex);
            capture->m_lines.push_back(Line{type, category + QLatin1Char(' ') + message, Clock::now()});
        }
        // The program's own debug and info lines are only kept.
        if (capture && capture->m_previous && (!program || (type != QtDebugMsg && type != QtInfoMsg)))
            capture->m_previous(type, context, message);
    }

    struct Line
    {
        QtMsgType level;
        QString text;
        Clock::time_point at;
    };

    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};
