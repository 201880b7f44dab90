#pragma once

// Screenshots of widgets for review by eye: PNG files under build/screenshots/ of the source
// tree (KAVREL_TEST_SOURCE_DIR, set by CTest), one per appearance and interface language.
//
//   for (const auto &variant : Screenshots::variants()) {
//       Screenshots::apply(&window, variant);      // application palette + shared store's language
//       ...let the widget take the new texts...
//       Screenshots::write(&window, QStringLiteral("mini-window"), variant);
//   }
//   → build/screenshots/mini-window-light-en.png, -dark-en, -light-ru, -dark-ru
// (under build/screenshots/<KAVREL_SCREENSHOTS_SCREEN>/ when that names the run's screen).

#include "localization/KavrelAppLanguage.h"
#include "kit/KavrelAppearanceMode.h"

#include <QList>
#include <QPalette>
#include <QRect>
#include <QString>

class QWidget;

namespace Screenshots {

struct Variant
{
    KavrelColorScheme scheme;
    KavrelAppLanguage language;
    QString suffix; // "light-en", "dark-ru", ...
};

QList<Variant> variants();
QString directory();

// Sets the shared localization store's language and gives the application the palette the
// program applies in the variant's scheme (applyProgramPalette()), which the widget and its
// children then follow.
void apply(QWidget *widget, const Variant &variant);

// A palette a desktop gives the program before it sets its own: Qt's light one (Fusion's, as on
// a desktop without a theme of its own) or the dark one Qt derives from a dark grey.
QPalette desktopPalette(KavrelColorScheme scheme);

// Gives the application the palette the program's own appearance controller applies for the
// variant's scheme, starting from desktopPalette(): following a desktop of that scheme in
// Russian, forcing the scheme over a desktop of the other one in English.
void applyProgramPalette(const Variant &variant);

// Renders the widget at device pixel ratio 2 (so high-DPI faults show) and writes
// <directory>/<name>-<suffix>.png. Returns the file path, empty when writing failed.
// In a variant other than English, every text the scene looked up since apply() (or the last
// write) without finding a row fails the running test, unless it is listed as not a key; so
// does every text shown that does not read against its background (RenderedContrast.h). In every
// variant, so does every icon button shown without an accessible name (AccessibleNames.h), and
// every part that answers a screen reader's question out of range (AccessibleBounds.h).
QString write(QWidget *widget, const QString &name, const Variant &variant);
QString write(QWidget *widget, const QString &fileName);

// The screen as the user sees it, within `area` (every window, with the window manager's frames;
// on the X server): written as <directory>/<name>-<suffix>.png, where the name may begin with a
// folder. Texts looked up without a row fail the running test, as in write().
QString saveScreen(const QRect &area, const QString &name, const Variant &variant);

} // namespace Screenshots
