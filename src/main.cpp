// Program start: title, data module, main window (which runs the login while it is created).
#include "Unit10.h"
#include "dm_u.h"
#include "main_u.h"
#include "platform/ApplicationTitle.h"
#include "platform/Translation.h"
#include "util/util.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qtl::setApplicationTitle(QLatin1String(qtl::kProgramTag) + QStringLiteral(" Регистратор студентов"));
    qtl::InstallFontSubstitutes();
    qtl::InstallQtTranslation();

    qtl::DM_MB = new qtl::TDM_MB(&app);

    qtl::TForm1 mainWindow;
    // An abandoned login ends the program before the main window is ever shown.
    if (!mainWindow.loginAccepted()) return 0;
    // The first showing asks for the operator's rights; it reports its own failure and ends the
    // program from there (see TForm1::showEvent).
    mainWindow.show();
    return app.exec();
}
