// The student search window: finds a student of the operator's faculties by part of the name.
#pragma once

#include "platform/DbGrid.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

namespace qtl {

class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Image2;  // binoculars
    QFrame* Panel2;
    QLabel* Label5;  // " Поиск студента:"
    QLineEdit* RzEdit1;  // search text
    DbGrid* DBGridEh1;  // DS_SGM
    QStatusBar* StatusBar1;

    void RzEdit1Change();
    void DBGridEh1DblClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Names for assistive technology, and Enter on a found student.
    void setUpAssistiveAccess();
};

}  // namespace qtl
