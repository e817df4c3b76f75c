// The class list window: a print preview of the chosen class's list, stream by stream, and the
// three ways to take it away: print, save as PDF, save as CSV.
#pragma once

#include "util/ClassList.h"

#include <QDialog>

#include <memory>

class QPrinter;
class QPrintPreviewWidget;
class QPushButton;

namespace qtl {

class TForm6 : public QDialog {
    Q_OBJECT
public:
    // Which button the window offers first (Enter presses it).
    enum class First { Print, SavePdf };
    TForm6(ClassList list, QWidget* parent = nullptr, First first = First::Print);
    ~TForm6() override;

    QPrintPreviewWidget* Preview;
    QPushButton* BitBtnPrint;  // "Печать..."  Ctrl+P
    QPushButton* BitBtnPdf;  // "Сохранить PDF..."  Ctrl+S
    QPushButton* BitBtnCsv;  // "Сохранить CSV..."  Ctrl+Shift+S
    QPushButton* BitBtnClose;  // "Закрыть"

    const ClassList& classList() const { return m_list; }

    void BitBtnPrintClick();
    void BitBtnPdfClick();
    void BitBtnCsvClick();

private:
    ClassList m_list;
    std::unique_ptr<QPrinter> m_previewPrinter;
    // The folder and name offered by the save dialogs.
    QString proposedPath(const QString& suffix) const;
    // Writes the whole file or nothing: a failed write leaves no half file behind.
    void writeFile(const QString& path, const QByteArray& bytes);
    // Names for assistive technology, and Enter on the focused button.
    void setUpAssistiveAccess();
};

}  // namespace qtl
