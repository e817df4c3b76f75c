// The one way the program asks for a file to save to or for a printer. Both are the system's
// modal dialogs; tests install a stand-in that answers at once, so nothing ever blocks on them.
#pragma once

#include <QString>

class QPrinter;
class QWidget;

namespace qtl {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The path chosen to save to, "" when the operator cancelled. `proposedPath` is the folder
    // and name offered; `filter` as QFileDialog takes it ("PDF (*.pdf)").
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& proposedPath,
                                 const QString& filter) = 0;
    // Lets the operator choose and set up the printer and the pages to print (all, or a range
    // within 1..`pages`; 0 when the count is not known); false when he cancelled.
    virtual bool setUpPrinter(QWidget* parent, QPrinter* printer, int pages = 0) = 0;

    // The folder a save dialog starts in: the user's documents folder, his home folder when he
    // has none (a dialog given a missing folder would open the program's working folder).
    static QString documentsFolder();

    // The installed implementation (the real dialogs unless a test installed another).
    static FileDialogs& instance();
    static void install(FileDialogs* dialogs);  // nullptr restores the real dialogs
};

}  // namespace qtl
