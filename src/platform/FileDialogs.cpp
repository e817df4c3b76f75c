#include "platform/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QStandardPaths>

namespace qtl {

namespace {

class RealFileDialogs : public FileDialogs {
public:
    QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath,
                         const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, caption, proposedPath, filter);
    }
    bool setUpPrinter(QWidget* parent, QPrinter* printer, int pages) override {
        QPrintDialog dialog(printer, parent);
        dialog.setWindowTitle(QStringLiteral("Печать"));
        // All pages or a range of them; the list has no selection and no current page to offer.
        dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintPageRange |
                          QAbstractPrintDialog::PrintCollateCopies | QAbstractPrintDialog::PrintShowPageSize);
        if (pages > 0) dialog.setMinMax(1, pages);
        return dialog.exec() == QDialog::Accepted;
    }
};

RealFileDialogs g_real;
FileDialogs* g_installed = nullptr;

}  // namespace

QString FileDialogs::documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

FileDialogs& FileDialogs::instance() {
    return g_installed ? *g_installed : g_real;
}

void FileDialogs::install(FileDialogs* dialogs) {
    g_installed = dialogs;
}

}  // namespace qtl
