#include "Unit4.h"

#include "Unit5.h"
#include "dm_u.h"
#include "platform/Accessibility.h"
#include "platform/Guard.h"
#include "platform/Look.h"
#include "statements/Statements.h"

#include <QKeyEvent>
#include <QPixmap>
#include <QVBoxLayout>

#include <memory>

namespace qtl {

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    InitPictures();
    SetUpLookupWindow(this);
    setWindowTitle(QStringLiteral("Поиск"));
    resize(503, 584);

    Panel1 = HeaderPanel(this, false);
    Panel1->setFixedHeight(33);

    Image2 = new QLabel(Panel1);
    Image2->setGeometry(4, 6, 21, 20);
    Image2->setPixmap(QPixmap(QStringLiteral(":/binoculars.png")));

    Panel2 = HeaderPanel(Panel1, true);
    Panel2->setGeometry(28, 4, 116, 25);
    Label5 = NavyCaption(Panel2, QStringLiteral(" Поиск студента:"));
    Label5->setGeometry(2, 2, 112, 21);

    RzEdit1 = new QLineEdit(Panel1);
    RzEdit1->setGeometry(148, 4, 348, 24);
    RzEdit1->setFrame(true);

    DBGridEh1 = new DbGrid(this);
    DBGridEh1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGridEh1->bind(DM_MB->DS_SGM, {{QStringLiteral("s_fio"), QStringLiteral("Ф.И.О студента"), 200},
                                    {QStringLiteral("p20"), QStringLiteral("Группа"), 100}});
    DBGridEh1->setTitleFont(PalatinoBold(13), kNavy);
    DBGridEh1->setRowHeight(22);
    DBGridEh1->setToolTip(QStringLiteral("Выберите студента и нажмите\nлевой кнопкой мыши два раза"));
    (new ColumnFitter(DBGridEh1, {200, 100}))->fit();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(false);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Panel1);
    column->addWidget(DBGridEh1, 1);
    column->addWidget(StatusBar1);

    onEvent(RzEdit1, &QLineEdit::textChanged, this, [this] { RzEdit1Change(); });
    onEvent(DBGridEh1, &DbGrid::gridDoubleClicked, this, [this] { DBGridEh1DblClick(); });
    setUpAssistiveAccess();
}

void TForm4::showEvent(QShowEvent* event) {
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

void TForm4::keyPressEvent(QKeyEvent* event) {
    if (!LookupWindowKeyPress(event)) QDialog::keyPressEvent(event);
}

void TForm4::RzEdit1Change() {
    Query* found = DM_MB->ADOQ_SGM;
    found->close();
    found->setSql(statements::studentSearch(RzEdit1->text(), g_signIn.CurrentLogin));
    found->open();
}

void TForm4::DBGridEh1DblClick() {
    // The registrations window opens whatever the grid holds; it works on ADOQ_SGM's current row.
    std::unique_ptr<TForm5> form5 = std::make_unique<TForm5>(this);
    form5->exec();
}

// ---- assistive technology and the keyboard

void TForm4::setUpAssistiveAccess() {
    // The caption stands in a panel of its own, so it cannot be the edit's buddy.
    RzEdit1->setAccessibleName(Label5->text().trimmed());
    DBGridEh1->setAccessibleName(QStringLiteral("Найденные студенты"));
    DBGridEh1->setAccessibleDescription(QStringLiteral("Выберите студента и нажмите Enter"));
    // Enter on the grid opens the registrations window as the double click does.
    OnEnterKey(DBGridEh1, [this] { guarded(this, [this] { DBGridEh1DblClick(); }); });
}

}  // namespace qtl
