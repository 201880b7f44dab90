// Keeps src/ in layers: every #include "folder/..." under src/ names its own folder or one listed
// before it in src/LAYERS. A new folder must be given its place there before it can be used.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct LayerOrder
{
    QStringList folders; // lowest first
    QString error;
};

LayerOrder readLayers(const QString &path)
{
    LayerOrder order;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        order.error = QStringLiteral("cannot read %1").arg(path);
        return order;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        const QString folder = trimmed.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0);
        if (order.folders.contains(folder))
            order.error = QStringLiteral("%1 is listed twice").arg(folder);
        order.folders.append(folder);
    }
    if (order.folders.isEmpty() && order.error.isEmpty())
        order.error = QStringLiteral("%1 lists no folder").arg(path);
    return order;
}

// Every include under root that runs upwards or names a folder the order does not know, one line
// each ("file:line: text"). Files directly in root (main.cpp) sit above every folder.
QStringList layerFaults(const QString &root, const LayerOrder &order)
{
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+\"([A-Za-z0-9_]+)/"));
    QStringList faults;
    const QDir rootDir(root);
    for (const QString &entry : rootDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!order.folders.contains(entry))
            faults.append(QStringLiteral("%1/: folder has no place in the layer order").arg(entry));
    }
    QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp"), QStringLiteral("*.in")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = rootDir.relativeFilePath(path);
        const QString folder = relative.contains(u'/') ? relative.section(u'/', 0, 0) : QString();
        const qsizetype ownLayer = folder.isEmpty() ? order.folders.size() : order.folders.indexOf(folder);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            faults.append(QStringLiteral("%1: unreadable").arg(relative));
            continue;
        }
        int lineNumber = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            ++lineNumber;
            const QRegularExpressionMatch match = include.match(line);
            if (!match.hasMatch())
                continue;
            const qsizetype includedLayer = order.folders.indexOf(match.captured(1));
            if (includedLayer < 0 || (ownLayer >= 0 && includedLayer > ownLayer))
                faults.append(QStringLiteral("%1:%2: %3").arg(relative).arg(lineNumber).arg(line));
        }
    }
    faults.sort();
    return faults;
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class tst_IncludeLayers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noIncludeRunsUpwards();
    void theCheckCatchesUpwardAndUnknownIncludes();
};

void tst_IncludeLayers::noIncludeRunsUpwards()
{
    const QString source = qEnvironmentVariable("KAVREL_TEST_SOURCE_DIR");
    if (source.isEmpty())
        QSKIP("KAVREL_TEST_SOURCE_DIR is not set: run through CTest");
    const QString root = source + QStringLiteral("/src");
    const LayerOrder order = readLayers(root + QStringLiteral("/LAYERS"));
    QVERIFY2(order.error.isEmpty(), qPrintable(order.error));
    const QStringList faults = layerFaults(root, order);
    QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("includes against src/LAYERS:\n") + faults.join(u'\n')));
}

void tst_IncludeLayers::theCheckCatchesUpwardAndUnknownIncludes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    writeFile(root + "/LAYERS", "# lowest first\nbase  toolkit\nkit   widgets\napp   program\n");
    writeFile(root + "/base/Text.h", "#pragma once\n#include \"base/Other.h\"\n#include <QString>\n");
    writeFile(root + "/kit/widgets/Button.cpp", "#include \"kit/widgets/Button.h\"\n#include \"base/Text.h\"\n");
    writeFile(root + "/app/Shell.cpp", "#include \"kit/widgets/Button.h\"\n");
    writeFile(root + "/main.cpp", "#include \"app/Shell.h\"\n");
    const LayerOrder order = readLayers(root + "/LAYERS");
    QCOMPARE(order.folders, (QStringList{"base", "kit", "app"}));
    QCOMPARE(layerFaults(root, order), QStringList());

    // A planted upward include, a widget file reaching the program, an unknown folder's include
    // and a folder missing from the order are each reported.
    writeFile(root + "/base/Async.cpp", "#include \"base/Text.h\"\n  #include \"kit/KavrelPalette.h\"\n");
    writeFile(root + "/kit/widgets/Pill.cpp", "#include \"app/Shell.h\"\n");
    writeFile(root + "/app/Tray.cpp", "#include \"nowhere/Thing.h\"\n");
    writeFile(root + "/extra/Loose.h", "#pragma once\n");
    const QStringList expected{
        "app/Tray.cpp:1: #include \"nowhere/Thing.h\"",
        "base/Async.cpp:2: #include \"kit/KavrelPalette.h\"",
        "extra/: folder has no place in the layer order",
        "kit/widgets/Pill.cpp:1: #include \"app/Shell.h\"",
    };
    QCOMPARE(layerFaults(root, order), expected);

    writeFile(root + "/LAYERS", "base\nkit\nbase\n");
    QVERIFY(!readLayers(root + "/LAYERS").error.isEmpty());
}

QTEST_GUILESS_MAIN(tst_IncludeLayers)
#include "tst_IncludeLayers.moc"
