// Program start: title, data module, the login, then the main window built with what the login
// established.
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

    // An abandoned login ends the program before the main window exists.
    QString caption;
    {
        qtl::TForm8 login;
        if (login.exec() != QDialog::Accepted) return 0;
        caption = login.MainCaption;
    }
    qtl::TForm1 mainWindow(caption);
    // The first showing asks for the operator's rights; it reports its own failure and ends the
    // program from there (see TForm1::showEvent).
    mainWindow.show();
    return app.exec();
}
