#include "app/widgets/KavrelAlreadyRunningNotice.h"

#include "kit/widgets/KavrelWindowFront.h"
#include "localization/KavrelLocalizationStore.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace KavrelAlreadyRunningNotice {

namespace {

QMessageBox *openBox(QMessageBox::Icon icon, const QString &heading, const QString &text, std::function<void()> closed)
{
    auto *box = new QMessageBox(icon, heading, heading, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(text);
    // Sized by its one button, the box would wrap the sentence after every other word.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(400, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                      grid->columnCount());
    QObject::connect(box, &QMessageBox::finished, box, [closed = std::move(closed)] {
        if (closed)
            closed();
    });
    KavrelWindowFront::bringForward(box);
    return box;
}

} // namespace

QMessageBox *open(const KavrelLocalizationStore &localization, std::function<void()> closed)
{
    return openBox(QMessageBox::Information, localization.localized(QStringLiteral("КАВРЕЛ is already running")),
                   localization.localized(QStringLiteral(
                       "Another copy of КАВРЕЛ is already running with these settings, so this one will close.")),
                   std::move(closed));
}

QString notAnsweringHeading(const KavrelLocalizationStore &localization)
{
    return localization.localized(QStringLiteral("КАВРЕЛ is running but does not answer"));
}

QString notAnsweringText(const KavrelLocalizationStore &localization, qint64 processId)
{
    // A stopped process takes no signal but the one that kills it, so the command is that one.
    const QString process = processId > 0 ? QString::number(processId) : QStringLiteral("<PID>");
    return localization.localizedFormat(
        QStringLiteral("A copy of КАВРЕЛ is already running but does not answer, so nothing opens. End it in the "
                       "system monitor or with the command “kill -9 %@” in a terminal, then start КАВРЕЛ again."),
        QStringList{process});
}

QMessageBox *openNotAnswering(const KavrelLocalizationStore &localization, qint64 processId,
                              std::function<void()> closed)
{
    return openBox(QMessageBox::Warning, notAnsweringHeading(localization), notAnsweringText(localization, processId),
                   std::move(closed));
}

} // namespace KavrelAlreadyRunningNotice
