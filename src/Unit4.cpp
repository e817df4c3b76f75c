#include "Unit4.h"

#include "Unit5.h"
#include "dm_u.h"
#include "platform/Accessibility.h"
#include "platform/Guard.h"
#include "platform/Look.h"
#include "util/util.h"

#include <QKeyEvent>
#include <QPixmap>
#include <QVBoxLayout>

#include <memory>

namespace qtl {

QString TForm4::SearchStatement(const QString& text, const QString& login) {
    return QStringLiteral(
               "SELECT TOP (100) dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, "
               "dbo.[group].p20, dbo.[group].id_faculty, T_user_fak.QTL_login FROM dbo.s_fio INNER JOIN "
               "dbo.movement_t ON dbo.s_fio.id_student = dbo.movement_t.id_student INNER JOIN dbo.[group] "
               "ON dbo.movement_t.id_group = dbo.[group].id_group INNER JOIN (SELECT "
               "dbo.QTL_User.id_QTL_user, dbo.QTL_User.QTL_login, dbo.user_faculty.faculty FROM "
               "dbo.QTL_User INNER JOIN dbo.user_faculty ON dbo.QTL_User.id_QTL_user = "
               "dbo.user_faculty.id_login WHERE (dbo.QTL_User.visible = 1)) AS T_user_fak ON "
               "dbo.[group].id_faculty = T_user_fak.faculty GROUP BY dbo.s_fio.id_student, "
               "dbo.s_fio.s_fio, dbo.[group].id_group, dbo.[group].p20, dbo.[group].id_faculty, "
               "T_user_fak.QTL_login HAVING (dbo.s_fio.s_fio LIKE '%") +
           DoubleQuotes(text) + QStringLiteral("%') ") + QStringLiteral("AND (T_user_fak.QTL_login ='") +
           DoubleQuotes(login) + QStringLiteral("') ") + QStringLiteral("ORDER BY dbo.s_fio.s_fio");
}

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    InitPictures();
    SetUpLookupWindow(this);
    setWindowTitle(QStringLiteral("Поиск"));
    resize(503, 584);

    Panel1 = new QFrame(this);
    Panel1->setFixedHeight(33);
    Panel1->setAutoFillBackground(true);
    QPalette header = Panel1->palette();
    header.setColor(QPalette::Window, kHeaderColour);
    Panel1->setPalette(header);

    Image2 = new QLabel(Panel1);
    Image2->setGeometry(4, 6, 21, 20);
    Image2->setPixmap(QPixmap(QStringLiteral(":/binoculars.png")));

    Panel2 = new QFrame(Panel1);
    Panel2->setGeometry(28, 4, 116, 25);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel2->setAutoFillBackground(true);
    Panel2->setPalette(header);
    Label5 = new QLabel(QStringLiteral(" Поиск студента:"), Panel2);
    Label5->setGeometry(2, 2, 112, 21);
    Label5->setFont(PalatinoBold(13));
    QPalette navy = Label5->palette();
    navy.setColor(QPalette::WindowText, kNavy);
    Label5->setPalette(navy);

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
    found->setSql(SearchStatement(RzEdit1->text(), g_signIn.CurrentLogin));
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
