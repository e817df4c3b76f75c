// Program start: title, data module, main window (which runs the login while it is created).
#include "Unit10.h"
#include "dm_u.h"
#include "main_u.h"
#include "platform/ApplicationTitle.h"
#include "platform/MessageBoxes.h"
#include "util/errors.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qtl::setApplicationTitle(QStringLiteral("QTL 33 Регистратор студентов"));
    qtl::InstallFontSubstitutes();

    qtl::DM_MB = new qtl::TDM_MB(&app);

    qtl::TForm1 mainWindow;
    // An abandoned login ends the program before the main window is ever shown.
    if (!mainWindow.loginAccepted()) return 0;
    try {
        mainWindow.show();
    } catch (const qtl::AppError& e) {
        // The rights check of the first showing failed: nothing to work with.
        qtl::MessageBoxes::showError(nullptr, e.text());
        return 1;
    }
    return app.exec();
}
