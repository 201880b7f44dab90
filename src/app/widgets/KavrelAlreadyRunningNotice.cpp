#include "app/widgets/KavrelAlreadyRunningNotice.h"

#include "kit/widgets/KavrelWindowFront.h"
#include "localization/KavrelLocalizationStore.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace KavrelAlreadyRunningNotice {

QMessageBox *open(const KavrelLocalizationStore &localization, std::function<void()> closed)
{
    const QString heading = localization.localized(QStringLiteral("КАВРЕЛ is already running"));
    auto *box = new QMessageBox(QMessageBox::Information, heading, heading, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(localization.localized(
        QStringLiteral("Another copy of КАВРЕЛ is already running with these settings, so this one will close.")));
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

} // namespace KavrelAlreadyRunningNotice
