// Signing in from tests: the login window pointed at a qtl-devserver and driven with real input
// events instead of a modal loop.
#pragma once

#include "DevServer.h"

#include "main_u.h"

#include <QString>

#include <memory>

namespace qtltest {

// Types text as the keyboard would, one key event per character (Cyrillic included, which
// QTest::keyClicks cannot carry).
void typeInto(QWidget* widget, const QString& text);

// The login reads the settings file the server wrote into its own folder.
void useServer(DevServer& server);

// Signs in as the program start does, without a modal loop: creates the login window, types the
// login and password into its edits, clicks the login button and reports whether the window ended
// accepted; `caption` (when given) receives the main window's caption it composed. Message boxes
// shown meanwhile go to the installed recorder (a temporary one when none is installed).
bool signInThroughLoginWindow(const QString& login, const QString& password, QString* caption = nullptr);

// What the last automatic login left in the window's message label and in message boxes
// (for failure reports).
QString lastAutoLoginReport();

// DM_MB (created when missing), the main window signed in, shown and exposed. On failure the
// test fails (ADD_FAILURE) and nullptr is returned.
std::unique_ptr<qtl::TForm1> openMainWindow(DevServer& server, const QString& login = QStringLiteral("operator"),
                                            const QString& password = QStringLiteral("operator"));

}  // namespace qtltest
