// Qt's own texts (file and print dialogs, edit fields' context menus, message-box buttons) in
// Russian whatever the system's language: the operators read Russian only. Only the translation
// is installed; the locale, and with it every date and number format, stays the system's.
#pragma once

#include <QString>
#include <QStringList>

namespace qtl {

// Where Qt's translation is looked for, first match wins: a `translations` folder beside the
// executable (shipped with the program where Qt is not a system package), then Qt's own folder.
QStringList QtTranslationFolders();

// Installs qtbase_ru.qm from the first of `folders` that holds a readable one and returns its
// path. When none does, the program goes on with Qt's English texts: one warning on stderr, "".
// Call it after the QApplication is created.
QString InstallQtTranslation(const QStringList& folders = QtTranslationFolders());

}  // namespace qtl
