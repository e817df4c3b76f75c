// The student registrations window: every registration of the student found in the search
// window, with deletion of the selected one.
#pragma once

#include "platform/DbGrid.h"
#include "platform/Look.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace qtl {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    QFrame* Panel1;
    QFrame* Panel4;
    QLabel* Label5;  // " Ф.И.О. студента:"
    QFrame* Panel5;
    QLabel* DBText1;  // s_fio of the current row of DS_SGM
    DbGrid* DBGridEh1;  // DS_V_DFS
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
    // Names for assistive technology, and Enter on the focused button.
    void setUpAssistiveAccess();
};

}  // namespace qtl
