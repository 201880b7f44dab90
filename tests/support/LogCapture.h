#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// Log lines of the program's categories, "<category> <message>", while an instance lives, with
// the level each was logged at.
class LogCapture
{
public:
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
        QStringList lines;
        for (const auto &[type, line] : m_lines)
            lines.append(line);
        return lines;
    }
    bool contains(const QString &text) const { return count(text) > 0; }
    int count(const QString &text) const
    {
        int found = 0;
        for (const auto &[type, line] : m_lines)
            found += line.contains(text) ? 1 : 0;
        return found;
    }
    // The lines of that level.
    QStringList linesAt(QtMsgType level) const
    {
        QStringList lines;
        for (const auto &[type, line] : m_lines) {
            if (type == level)
                lines.append(line);
        }
        return lines;
    }
    void clear() { m_lines.clear(); }

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
        if (capture && category.startsWith(QLatin1String("app.kavrel.desktop")))
            capture->m_lines.emplace_back(type, category + QLatin1Char(' ') + message);
        if (capture && capture->m_previous && type != QtDebugMsg && type != QtInfoMsg)
            capture->m_previous(type, context, message);
    }

    QtMessageHandler m_previous = nullptr;
    std::vector<std::pair<QtMsgType, QString>> m_lines;
};
