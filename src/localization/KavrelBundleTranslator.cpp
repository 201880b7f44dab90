#include "localization/KavrelBundleTranslator.h"
#include "localization/KavrelLocalizationStore.h"

#include <cstring>

KavrelBundleTranslator::KavrelBundleTranslator(const KavrelLocalizationStore &store, QObject *parent)
    : QTranslator(parent), m_store(store)
{
}

QString KavrelBundleTranslator::translate(const char *context, const char *sourceText, const char *disambiguation,
                                          int n) const
{
    Q_UNUSED(disambiguation);
    Q_UNUSED(n);
    if (!sourceText || !*sourceText || isQtContext(context))
        return {};
    const QString key = QString::fromUtf8(sourceText);
    const QString translated = m_store.localized(key);
    // A translation that reads the same as its key is no translation: whatever else Qt
    // would answer stays in force.
    if (translated == key)
        return {};
    return translated;
}

bool KavrelBundleTranslator::isQtContext(const char *context)
{
    if (!context || !*context)
        return false;
    const auto isUpper = [](char c) { return c >= 'A' && c <= 'Z'; };
    // Qt's classes ("QFileDialog", "QPlatformTheme") and modules ("QtWaylandClient").
    if (context[0] == 'Q' && (isUpper(context[1]) || (context[1] == 't' && (context[2] == '\0' || isUpper(context[2])))))
        return true;
    // The few contexts in Qt's own catalogues that do not follow that pattern.
    static constexpr const char *otherQtContexts[] = {"CloseButton", "MAC_APPLICATION_MENU",
                                                      "Print Device Input Slot", "Print Device Output Bin"};
    for (const char *qtContext : otherQtContexts) {
        if (std::strcmp(context, qtContext) == 0)
            return true;
    }
    return false;
}
