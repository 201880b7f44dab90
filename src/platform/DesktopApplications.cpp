#include "platform/DesktopApplications.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

#include <sys/stat.h>

namespace {

constexpr int ambiguous = -1;
constexpr qint64 largestEntry = 256 * 1024;
constexpr int deepestSubdirectory = 8; // a link loop ends here
constexpr qint64 settlingMilliseconds = 2000;

// A string value with the escapes of the format undone.
QString unescaped(QStringView value)
{
    QString text;
    text.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            text.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's': text.append(QLatin1Char(' ')); break;
        case 'n': text.append(QLatin1Char('\n')); break;
        case 't': text.append(QLatin1Char('\t')); break;
        case 'r': text.append(QLatin1Char('\r')); break;
        default: text.append(next); break;
        }
    }
    return text;
}

// The arguments of an Exec value: split at blanks, double quotes group, and a backslash in
// quotes keeps the next character.
QStringList execArguments(const QString &exec)
{
    QStringList arguments;
    QString current;
    bool inQuotes = false;
    bool hasArgument = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"'))
                inQuotes = false;
            else if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current.append(exec.at(++i));
            else
                current.append(c);
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            hasArgument = true;
        } else if (c.isSpace()) {
            if (hasArgument)
                arguments.append(current);
            current.clear();
            hasArgument = false;
        } else {
            current.append(c);
            hasArgument = true;
        }
    }
    if (hasArgument)
        arguments.append(current);
    return arguments;
}

// The program an Exec value starts, past an "env" and its VAR=value settings.
QString programOf(const QString &exec)
{
    const QStringList arguments = execArguments(exec);
    qsizetype first = 0;
    if (!arguments.isEmpty() && QFileInfo(arguments.front()).fileName() == QLatin1String("env")) {
        first = 1;
        while (first < arguments.size() && arguments.at(first).contains(QLatin1Char('='))
               && !arguments.at(first).startsWith(QLatin1Char('-')))
            ++first;
    }
    return arguments.value(first);
}

// A program that runs another one (a shell, an interpreter, a sandbox): its processes are of
// every kind, and none of them is the entry's application.
bool runsAnotherProgram(const QString &program)
{
    static const QStringList runners{
        QStringLiteral("sh"),   QStringLiteral("bash"),    QStringLiteral("dash"), QStringLiteral("zsh"),
        QStringLiteral("env"),  QStringLiteral("perl"),    QStringLiteral("ruby"), QStringLiteral("node"),
        QStringLiteral("java"), QStringLiteral("flatpak"), QStringLiteral("snap"), QStringLiteral("gjs"),
        QStringLiteral("wine"), QStringLiteral("mono")};
    const QString name = QFileInfo(program).fileName();
    return runners.contains(name) || name.startsWith(QLatin1String("python")) || name.startsWith(QLatin1String("electron"));
}

// The file a program names, links resolved, as the process table shows a running executable;
// empty when it is not installed (or not on $PATH).
QString resolvedProgram(const QString &program)
{
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return {};
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

void addUnique(QHash<QString, int> &index, const QString &key, int entry)
{
    if (key.isEmpty())
        return;
    const auto found = index.find(key);
    if (found == index.end())
        index.insert(key, entry);
    else if (*found != entry)
        *found = ambiguous;
}

void addFirst(QHash<QString, int> &index, const QString &key, int entry)
{
    if (!key.isEmpty() && !index.contains(key))
        index.insert(key, entry);
}

qint64 modifiedNanoseconds(const QByteArray &path)
{
    struct stat info{};
    if (::stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return -1;
    return qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

} // namespace

QStringList DesktopApplications::standardDirectories()
{
    return QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
}

DesktopApplications::DesktopApplications(QStringList directories)
    : m_directories(std::move(directories))
{
}

void DesktopApplications::refreshIfChanged()
{
    if (m_read && !m_unsettled) {
        const bool same = std::all_of(m_states.begin(), m_states.end(), [](const DirectoryState &state) {
            return modifiedNanoseconds(state.path) == state.modifiedNanoseconds;
        });
        if (same)
            return;
    }
    read();
}

void DesktopApplications::read()
{
    m_read = true;
    m_states.clear();
    m_applications.clear();
    m_byStartupClass.clear();
    m_byLowerCaseId.clear();
    m_byProgramPath.clear();
    m_byProgramName.clear();
    QHash<QString, bool> seenIds;
    for (const QString &directory : std::as_const(m_directories))
        readDirectory(directory, directory, seenIds);
    const qint64 settledBefore = (QDateTime::currentMSecsSinceEpoch() - settlingMilliseconds) * 1'000'000;
    m_unsettled = std::any_of(m_states.begin(), m_states.end(),
                              [settledBefore](const DirectoryState &state) { return state.modifiedNanoseconds >= settledBefore; });
}

// Records the directory's state before listing it: a change during the listing shows at the next check.
void DesktopApplications::readDirectory(const QString &root, const QString &directory, QHash<QString, bool> &seenIds)
{
    const QByteArray encoded = QFile::encodeName(directory);
    m_states.push_back(DirectoryState{encoded, modifiedNanoseconds(encoded)});
    if (m_states.back().modifiedNanoseconds < 0)
        return;
    const QDir dir(directory);
    const QString prefix = QDir(root).relativeFilePath(directory);
    const bool isRoot = prefix.isEmpty() || prefix == QLatin1String(".");
    const QString idPrefix = isRoot ? QString() : QString(prefix).replace(QLatin1Char('/'), QLatin1Char('-')) + QLatin1Char('-');
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo &file : files) {
        const QString id = idPrefix + file.completeBaseName();
        if (seenIds.contains(id))
            continue;
        seenIds.insert(id, true);
        addEntry(id, file.filePath());
    }
    if (!isRoot && prefix.count(QLatin1Char('/')) >= deepestSubdirectory)
        return;
    const QFileInfoList subdirectories = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name);
    for (const QFileInfo &subdirectory : subdirectories)
        readDirectory(root, subdirectory.filePath(), seenIds);
}

void DesktopApplications::addEntry(const QString &id, const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > largestEntry)
        return;
    const QString text = QString::fromUtf8(file.readAll());

    QString type, name, exec, tryExec, startupClass;
    bool hidden = false;
    bool inMainGroup = false;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        const QStringView key = line.left(equals).trimmed();
        const QString value = unescaped(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Name"))
            name = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("TryExec"))
            tryExec = value;
        else if (key == QLatin1String("StartupWMClass"))
            startupClass = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value == QLatin1String("true");
    }
    if (hidden || type != QLatin1String("Application") || name.trimmed().isEmpty())
        return;

    const int entry = int(m_applications.size());
    m_applications.push_back(DesktopApplication{id, name.trimmed()});
    addFirst(m_byStartupClass, startupClass, entry);
    addFirst(m_byLowerCaseId, id.toLower(), entry);
    for (const QString &program : {programOf(exec), tryExec}) {
        if (program.isEmpty() || runsAnotherProgram(program))
            continue;
        const QString resolved = resolvedProgram(program);
        addUnique(m_byProgramPath, resolved, entry);
        if (program.startsWith(QLatin1Char('/')))
            addUnique(m_byProgramPath, QDir::cleanPath(program), entry);
        else if (resolved.isEmpty())
            addUnique(m_byProgramName, program, entry);
    }
}

std::optional<DesktopApplication> DesktopApplications::at(const QHash<QString, int> &index, const QString &key) const
{
    const auto found = index.constFind(key);
    if (key.isEmpty() || found == index.constEnd() || *found == ambiguous)
        return std::nullopt;
    return m_applications.at(std::size_t(*found));
}

std::optional<DesktopApplication> DesktopApplications::forWindowClass(const QString &instanceName,
                                                                      const QString &className) const
{
    for (const QString &key : {instanceName, className}) {
        if (auto application = at(m_byStartupClass, key))
            return application;
    }
    for (const QString &key : {instanceName, className}) {
        if (auto application = at(m_byLowerCaseId, key.toLower()))
            return application;
    }
    return std::nullopt;
}

std::optional<DesktopApplication> DesktopApplications::forExecutable(const QString &executablePath) const
{
    if (executablePath.isEmpty())
        return std::nullopt;
    if (auto application = at(m_byProgramPath, executablePath))
        return application;
    if (m_byProgramName.isEmpty())
        return std::nullopt;
    const QString baseName = executablePath.mid(executablePath.lastIndexOf(QLatin1Char('/')) + 1);
    return at(m_byProgramName, baseName);
}
