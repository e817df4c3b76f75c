// The application's title: the name of the running program (after the login it equals the main
// window's caption, which is what the task bar shows for it) and the caption of the general
// error display.
//
// It is kept here rather than as Qt's application display name: Qt appends the display name to
// the title bar of every window ("Поиск — <title>"), and every window and message box of this
// program must show its own caption exactly.
#pragma once

#include <QString>

namespace qtl {

QString applicationTitle();  // the executable's name until a title is set
void setApplicationTitle(const QString& title);

}  // namespace qtl
