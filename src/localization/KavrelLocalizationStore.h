#pragma once

#include "localization/KavrelAppLanguage.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <memory>
#include <mutex>

class KavrelBundleTranslator;
class QTranslator;
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
    // A counted format ("%@ words") takes the form its first argument, the count, asks for.
    QString localizedFormat(const QString &format, const QVariantList &arguments) const;
    QString localizedFormat(const QString &format, const QStringList &arguments) const;
    // The name of `language` in the current interface language.
    QString localizedLanguageName(KavrelAppLanguage language) const;
    // An error text for the screen. The program's own error texts are English and often wrap
    // another ("The app could not generate a summary: Could not connect to the server."):
    // each part that is one of ours is translated. Anything else (a server's own message)
    // comes back as given.
    QString localizedMessage(const QString &text) const;

    // Sends Qt's translation lookups for this program's own texts (window titles, tooltips and
    // other texts handed to Qt through tr()) through the tables. Done once; does nothing while
    // no application object exists.
    void installBundleOverride();
    bool didInstallBundleOverride() const { return m_didInstallBundleOverride; }
    // Loads Qt's own catalogue (standard buttons, the context menu of text fields) for the
    // current language from Qt's translations folder. Returns whether one is in effect; false
    // for English and when the catalogue is not installed.
    bool installQtTranslations();

    // For tests: while recording, every text that was looked up and had no row in the current
    // language's table is remembered, so a run through the screens can list what it missed.
    void setRecordingMisses(bool recording);
    QStringList recordedMisses() const;

    // The interface languages a user may run in.
    static QList<KavrelAppLanguage> availableLanguages();

Q_SIGNALS:
    void languageChanged(KavrelAppLanguage language);

private:
    UserDefaults &m_defaults;
    std::atomic<KavrelAppLanguage> m_language{KavrelAppLanguage::russian};
    bool m_didInstallBundleOverride = false;
    std::unique_ptr<KavrelBundleTranslator> m_bundleTranslator;
    std::unique_ptr<QTranslator> m_qtTranslator;
    std::atomic<bool> m_isRecordingMisses{false};
    mutable std::mutex m_missesMutex;
    mutable QStringList m_misses;

    QString lookup(const QString &key, bool recordMiss) const;
    QString messageInLanguage(const QString &text, int depth) const;
    void recordMiss(const QString &text) const;
};
