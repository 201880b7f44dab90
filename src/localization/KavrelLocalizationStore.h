#pragma once

#include "localization/KavrelAppLanguage.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <memory>

class KavrelBundleTranslator;
class UserDefaults;

// Holds the interface language and turns English interface keys into the text that is shown.
// The program uses the one instance from shared(); tests build their own over a temporary store.
//
// localized(), localizedFormat() and the installed translator may be called from any thread:
// the language is read atomically and the tables never change once built.
class KavrelLocalizationStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(KavrelAppLanguage language READ language WRITE setLanguage NOTIFY languageChanged)

public:
    static constexpr const char *languageDefaultsKey = "kavrel.uiLanguage";

    // The process-wide store over the standard user defaults, created on first use.
    static KavrelLocalizationStore &shared();

    // Settles the language from the stored "kavrel.uiLanguage": a stored code is kept only when
    // it names an available language; otherwise the language is Russian and "ru" is stored.
    explicit KavrelLocalizationStore(UserDefaults &defaults, QObject *parent = nullptr);
    ~KavrelLocalizationStore() override;

    KavrelAppLanguage language() const { return m_language.load(std::memory_order_relaxed); }
    // Changes the language for this run only; it is never stored.
    void setLanguage(KavrelAppLanguage language);

    // The text for an interface key in the current language. White space around the key is
    // ignored for the lookup; a key without a translation comes back exactly as given.
    QString localized(const QString &key) const;
    // localized(format) filled printf-style: "%@" (or "%1$@") takes an argument, "%%" is "%".
    QString localizedFormat(const QString &format, const QVariantList &arguments) const;
    QString localizedFormat(const QString &format, const QStringList &arguments) const;
    // The name of `language` in the current interface language.
    QString localizedLanguageName(KavrelAppLanguage language) const;

    // Sends Qt's translation lookups for this program's own texts (window titles, tooltips and
    // other texts handed to Qt through tr()) through the tables. Done once; does nothing while
    // no application object exists.
    void installBundleOverride();
    bool didInstallBundleOverride() const { return m_didInstallBundleOverride; }

    // The interface languages a user may run in.
    static QList<KavrelAppLanguage> availableLanguages();

Q_SIGNALS:
    void languageChanged(KavrelAppLanguage language);

private:
    UserDefaults &m_defaults;
    std::atomic<KavrelAppLanguage> m_language{KavrelAppLanguage::russian};
    bool m_didInstallBundleOverride = false;
    std::unique_ptr<KavrelBundleTranslator> m_bundleTranslator;
};
