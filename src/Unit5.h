// The student registrations window: every registration of the student found in the search
// window, with deletion of the selected one.
#pragma once

#include "platform/DbGrid.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace qtl {

// Keeps a grid's columns in the proportions of their design widths whenever the grid is resized.
class ColumnFitter : public QObject {
    Q_OBJECT
public:
    ColumnFitter(DbGrid* grid, QVector<int> widths);
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DbGrid* m_grid;
    QVector<int> m_widths;
};

// Registers the button glyphs and pictures (once).
void InitPictures();

// Bold "Palatino Linotype" of the given pixel size.
QFont PalatinoBold(int pixelSize);

// Secondary windows open in the middle of the desktop, not over their owner.
void CentreOnScreen(QWidget* window);

// The look shared by the search and registrations windows: the program's window font (a window
// does not take it from its owner) and no way out by Esc; see LookupWindowKeyPress.
void SetUpLookupWindow(QDialog* window);
// Esc does not close a lookup window: it closes by its close box (and "Закрыть") only. Returns
// whether the key was taken.
bool LookupWindowKeyPress(QKeyEvent* event);

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    QFrame* Panel1;
    QFrame* Panel4;
    QLabel* Label5;          // " Ф.И.О. студента:"
    QFrame* Panel5;
    QLabel* DBText1;         // s_fio of the current row of DS_SGM
    DbGrid* DBGridEh1;       // DS_V_DFS
    QFrame* Panel3;
    QPushButton* RzBitBtn2;  // "Закрыть"
    QPushButton* RzBitBtn1;  // "Удалить регистрацию"

    void FormCreate();
    void RzBitBtn1Click();
    void RzBitBtn2Click();

    static const QColor kAlternateRow;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void refreshName();
};

}  // namespace qtl
