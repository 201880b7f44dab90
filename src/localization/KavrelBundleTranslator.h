#pragma once

#include <QTranslator>

class KavrelLocalizationStore;

// Answers Qt's translation lookups for this program's own texts from the interface-language
// tables. Qt's own texts (button boxes, file dialogs, shortcuts and the like) are left to Qt:
// our tables hold words such as "Cancel" and "Open" that must not leak into Qt's dialogs
// under their own contexts.
class KavrelBundleTranslator final : public QTranslator
{
    Q_OBJECT

public:
    explicit KavrelBundleTranslator(const KavrelLocalizationStore &store, QObject *parent = nullptr);

    // The store's translation of sourceText, or an empty string (no answer, so the next
    // translator or the source text stands) for Qt's own contexts and for a text whose
    // translation is the text itself.
    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }

    // Whether a translation context belongs to Qt's own libraries.
    static bool isQtContext(const char *context);

private:
    const KavrelLocalizationStore &m_store;
};
