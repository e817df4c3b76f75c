#include "platform/FileDialogs.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace qtl {

namespace {

class RealFileDialogs : public FileDialogs {
public:
    QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath,
                         const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, caption, proposedPath, filter);
    }
    bool setUpPrinter(QWidget* parent, QPrinter* printer) override {
        QPrintDialog dialog(printer, parent);
        dialog.setWindowTitle(QStringLiteral("Печать"));
        return dialog.exec() == QDialog::Accepted;
    }
};

RealFileDialogs g_real;
FileDialogs* g_installed = nullptr;

}  // namespace

FileDialogs& FileDialogs::instance() {
    return g_installed ? *g_installed : g_real;
}

void FileDialogs::install(FileDialogs* dialogs) {
    g_installed = dialogs;
}

}  // namespace qtl
