// The main window: layout and sizing, the rights check on first show, the selection chain, the
// student check list, the streams list with its stream editor, and the stream chooser.
#include "main_u.h"

#include "Unit2.h"
#include "Unit4.h"
#include "Unit6.h"
#include "dm_u.h"
#include "platform/Accessibility.h"
#include "platform/ApplicationTitle.h"
#include "platform/Guard.h"
#include "platform/Look.h"
#include "platform/MessageBoxes.h"
#include "util/ClassList.h"
#include "util/errors.h"
#include "util/util.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

namespace qtl {

TForm1* Form1 = nullptr;
std::function<QDate()> TForm1::Today = [] { return QDate::currentDate(); };

namespace {

QFont captionFont(bool underline = false) {
    QFont f = PalatinoBold(15);
    f.setUnderline(underline);
    return f;
}

QFrame* panel(QWidget* parent, const char* name) {
    auto* f = new QFrame(parent);
    f->setObjectName(QLatin1String(name));
    f->setFrameStyle(QFrame::NoFrame);
    return f;
}

// A caption of the selection area, right-aligned so that it ends just left of the lookup boxes.
QLabel* rowCaption(QWidget* parent, const char* name, const QString& text, int top) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(captionFont());
    SetTextColour(l, Qt::black);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setGeometry(0, top, 137, 21);
    return l;
}

LookupComboBox* lookup(QWidget* parent, const char* name, int left, int top, int width) {
    auto* c = new LookupComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setGeometry(left, top, width, 21);
    c->setMaxVisibleItems(25);
    SetTextColour(c, kNavy);
    return c;
}

// A value of the current row, or null when the query holds no row (closed or empty).
QVariant currentValue(const Query* q, const QString& column) {
    if (!q->isOpen() || q->isEmpty()) return {};
    return q->fieldValue(column);
}

}  // namespace

// ------------------------------------------------------------------------------------------
// The statements of the main window, built from values only

namespace statements {

QString removalRight(const QString& login) {
    return QStringLiteral(
               "SELECT TOP (1) id_QTL_user, visible, QTL_login, "
               "canRemoveDFSFromExStudent FROM QTL_User WHERE "
               "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='") +
           DoubleQuotes(login) + QStringLiteral("')");
}

QString teachers(const ChosenClass& c) {
    return QStringLiteral(
               " SELECT DISTINCT dbo.teacher.id_teacher, dbo.t_fio.t_fio  FROM         "
               "dbo.RRNKkrdt INNER JOIN  dbo.teacher ON dbo.RRNKkrdt.id_teacher = "
               "dbo.teacher.id_teacher INNER JOIN  dbo.t_fio ON dbo.teacher.id_teacher = "
               "dbo.t_fio.id_teacher  WHERE     (dbo.RRNKkrdt.id_a_year = ") +
           c.year + QStringLiteral(") AND (dbo.RRNKkrdt.id_kafedra = ") + c.department + QStringLiteral(") ") +
           QStringLiteral(" AND prov_reyt>0") + QStringLiteral(" ORDER BY dbo.t_fio.t_fio");
}

QString termKinds() {
    // The database is named: the kinds of term live in QTL whatever database the account opens.
    return QStringLiteral("SELECT [id_w_s],[p42],[ws_sort] FROM [QTL].[dbo].[w_s] ORDER BY [ws_sort]");
}

QString disciplines(const ChosenClass& c) {
    return QStringLiteral("EXEC SP_Qtl33GetDisciplines @id_a_year =") + c.year + QStringLiteral(",@id_w_s =") +
           c.termKind + QStringLiteral(",@id_kafedra =") + c.department + QStringLiteral(",@id_teacher =") + c.teacher;
}

QString examinations(const ChosenClass& c) {
    return QStringLiteral(
               " SELECT DISTINCT dbo.RRNKkrdt.id_examination, examination.[p30] as "
               "examination  FROM dbo.RRNKkrdt INNER JOIN examination  ON "
               "dbo.RRNKkrdt.id_examination=examination.id_examination  WHERE id_kafedra=") +
           c.department + QStringLiteral(" AND id_a_year=") + c.year + QStringLiteral(" AND id_teacher =") + c.teacher +
           QStringLiteral(" AND id_discipline =") + c.discipline + QStringLiteral(" AND id_w_s =") + c.termKindRow +
           QStringLiteral(" AND prov_reyt>0 ") +
           QStringLiteral(" AND ( (id_vid_zaniatiy is not NULL) or (id_vid_zaniatiy in (5,6)) )");
}

QString groups(const ChosenClass& c, bool everyGroupOfTheYear) {
    if (everyGroupOfTheYear)
        return QStringLiteral(
                   " SELECT     dbo.g_r_y.id_a_year, dbo.[group].id_faculty, "
                   "dbo.[group].id_group, dbo.[group].p20 as [group], dbo.[group].o_z, -1 as  "
                   "descGroupNum FROM         dbo.g_r_y INNER JOIN  dbo.[group] ON "
                   "dbo.g_r_y.id_group = dbo.[group].id_group  WHERE     dbo.g_r_y.id_a_year =") +
               c.year + QStringLiteral(" AND dbo.[group].id_faculty =") + c.faculty +
               QStringLiteral(" ORDER By [group]");
    return QStringLiteral(
               "SELECT   dbo.[group].id_group,  dbo.[group].id_faculty, "
               "dbo.g_r_y.id_a_year,dbo.semester.id_semester, dbo.semester.id_w_s, "
               "dbo.[group].p20 as [group],dbo.[group].o_z FROM         dbo.[group] INNER "
               "JOIN dbo.g_r_y ON dbo.[group].id_group = dbo.g_r_y.id_group INNER JOIN "
               "dbo.semester ON dbo.g_r_y.id_rate = dbo.semester.id_rate WHERE     "
               "(dbo.[group].id_faculty = ") +
           c.faculty + QStringLiteral(") ") + QStringLiteral("AND (dbo.g_r_y.id_a_year = ") + c.year +
           QStringLiteral(") ") + QStringLiteral(" AND (dbo.semester.id_w_s = ") + c.termKind + QStringLiteral(")") +
           QStringLiteral(" ORDER By [group]");
}

QString registeringSemester(const ChosenClass& c) {
    return QStringLiteral(
               "SELECT TOP 1 id_semester FROM dbo.semester INNER JOIN dbo.g_r_y ON "
               "dbo.semester.id_rate = dbo.g_r_y.id_rate WHERE (dbo.g_r_y.id_group = ") +
           c.group + QStringLiteral(")") + QStringLiteral("AND (dbo.g_r_y.id_a_year = ") + c.year +
           QStringLiteral(")") + QStringLiteral("AND (dbo.semester.id_w_s = ") + c.termKind + QStringLiteral(")");
}

QString formOfStudy(int groupId) {
    return QStringLiteral(
               "SELECT dbo.g_s.id_group, dbo.specialityV.p108 FROM dbo.specialityV "
               "INNER JOIN dbo.g_s ON dbo.specialityV.id_speciality = "
               "dbo.g_s.id_speciality WHERE  (dbo.g_s.id_group =") +
           QString::number(groupId) + QStringLiteral(")");
}

QString planNumber(const ChosenClass& c) {
    return QStringLiteral("Exec SP_GetDescGroupNumOfDiscipline @id_a_year =") + c.year + QStringLiteral(",@id_w_s =") +
           c.termKind + QStringLiteral(",@id_kafedra =") + c.department + QStringLiteral(",@id_group =") + c.group +
           QStringLiteral(",@id_discipline =") + c.discipline + QStringLiteral(",@id_examination =") + c.examination;
}

QString students(const ChosenClass& c, bool withoutPlan, int userId) {
    const QString user = QString::number(userId);
    if (withoutPlan)
        return QStringLiteral(" EXEC GET_KPV_Students  @id_group = ") + c.group + QStringLiteral(", ") +
               QStringLiteral(" @id_discipline = ") + c.discipline + QStringLiteral(", ") +
               QStringLiteral(" @id_a_year = ") + c.year + QStringLiteral(", ") +
               QStringLiteral(" @id_examination = ") + c.examination + QStringLiteral(", ") +
               QStringLiteral(" @id_w_s = ") + c.termKindRow + QStringLiteral(",") + QStringLiteral(" @kredits = ") +
               c.credits + QStringLiteral(",") + QStringLiteral(" @id_user=") + user;
    return QStringLiteral(" EXEC GET_KPV_Students2  @id_group = ") + c.group + QStringLiteral(", ") +
           QStringLiteral(" @id_discipline = ") + c.discipline + QStringLiteral(", ") +
           QStringLiteral(" @id_a_year = ") + c.year + QStringLiteral(", ") + QStringLiteral(" @descGroupNum = ") +
           c.descGroupNum + QStringLiteral(", ") + QStringLiteral(" @id_examination = ") + c.examination +
           QStringLiteral(", ") + QStringLiteral(" @id_w_s = ") + c.termKindRow + QStringLiteral(", ") +
           QStringLiteral(" @kredits = ") + c.credits + QStringLiteral(", ") + QStringLiteral(" @id_user=") + user;
}

QString termByKind(const QString& kind) {
    return QStringLiteral("        (dbo.semester.id_w_s = ") + kind + QStringLiteral(") AND ");
}

QString termBySemester(const QString& insSemesterId) {
    return QStringLiteral("        (dbo.DisciplineForStudent.id_ins_semester = ") + insSemesterId +
           QStringLiteral(") AND ");
}

QString streams(const ChosenClass& c, const QString& termCondition) {
    return QStringLiteral(
               "SELECT g_f.id_faculty, dbo.DisciplineForStudent.id_student, "
               "dbo.DisciplineForStudent.id_disciplineForStudent,         "
               "(CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + 'п (' + s_g.p20 + ') - '+ "
               "dbo.s_g.s_fio) AS [s_fio]  FROM  dbo.semester INNER JOIN        "
               "dbo.DisciplineForStudent ON dbo.semester.id_semester = "
               "dbo.DisciplineForStudent.id_ins_semester INNER JOIN        dbo.s_g ON "
               "dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN        dbo.g_f ON "
               "dbo.s_g.id_group = dbo.g_f.id_group   WHERE (dbo.DisciplineForStudent.id_ins_year = ") +
           c.year + QStringLiteral(") AND ") + QStringLiteral("        (dbo.DisciplineForStudent.id_discipline = ") +
           c.discipline + QStringLiteral(") AND ") +
           QStringLiteral("        (dbo.DisciplineForStudent.id_examination = ") + c.examination +
           QStringLiteral(") AND ") + QStringLiteral("        (dbo.DisciplineForStudent.kredits = ") + c.credits +
           QStringLiteral(") AND ") + termCondition +
           QStringLiteral("        (dbo.DisciplineForStudent.id_teacher = ") + c.teacher + QStringLiteral(")") +
           QStringLiteral(
               " GROUP BY DisciplineForStudent.subGroup, dbo.s_g.p20,  dbo.s_g.s_fio, "
               "g_f.id_faculty, dbo.DisciplineForStudent.id_student, "
               "dbo.DisciplineForStudent.id_disciplineForStudent, ") +
           QStringLiteral("        (CAST(DisciplineForStudent.subGroup AS NVARCHAR(10)) + '") +
           QStringLiteral("п (' + s_g.p20 + ") + QStringLiteral("') - ") + QStringLiteral("'+ dbo.s_g.s_fio) ") +
           QStringLiteral(" ORDER BY DisciplineForStudent.subGroup,dbo.s_g.p20,  dbo.s_g.s_fio");
}

QString classList(const ChosenClass& c, const QString& termCondition) {
    // The streams list's tables, conditions and grouping, so the list holds exactly its lines:
    // a student the joins repeat (rows of s_g or g_f) is one line there and one row here.
    return QStringLiteral(
               "SELECT dbo.DisciplineForStudent.subGroup, dbo.DisciplineForStudent.id_student, "
               "dbo.s_g.s_fio, dbo.s_g.p20 FROM dbo.semester INNER JOIN dbo.DisciplineForStudent "
               "ON dbo.semester.id_semester = dbo.DisciplineForStudent.id_ins_semester INNER JOIN "
               "dbo.s_g ON dbo.DisciplineForStudent.id_student = dbo.s_g.id_student INNER JOIN "
               "dbo.g_f ON dbo.s_g.id_group = dbo.g_f.id_group WHERE "
               "(dbo.DisciplineForStudent.id_ins_year = ") +
           c.year + QStringLiteral(") AND (dbo.DisciplineForStudent.id_discipline = ") + c.discipline +
           QStringLiteral(") AND (dbo.DisciplineForStudent.id_examination = ") + c.examination +
           QStringLiteral(") AND (dbo.DisciplineForStudent.kredits = ") + c.credits + QStringLiteral(") AND ") +
           termCondition + QStringLiteral("(dbo.DisciplineForStudent.id_teacher = ") + c.teacher +
           QStringLiteral(
               ") GROUP BY dbo.DisciplineForStudent.subGroup, dbo.s_g.p20, dbo.s_g.s_fio, dbo.g_f.id_faculty, "
               "dbo.DisciplineForStudent.id_student, dbo.DisciplineForStudent.id_disciplineForStudent "
               "ORDER BY dbo.DisciplineForStudent.subGroup, dbo.s_g.s_fio, "
               "dbo.s_g.p20, dbo.DisciplineForStudent.id_student");
}

QString moveInEditor(const QString& stream, const QString& teacher, int registrationId) {
    return QStringLiteral("UPDATE DisciplineForStudent SET subGroup = ") + stream + QStringLiteral(", ") +
           QStringLiteral(" id_teacher = ") + teacher + QStringLiteral(" WHERE ") +
           QStringLiteral("(id_disciplineForStudent = ") + QString::number(registrationId) + QStringLiteral(")");
}

QString registrationDeadline(int year, int termKind, int group) {
    return QStringLiteral(
               "Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  "
               "dbo.V_Date_reg_DFS GROUP BY id_a_year, id_w_s, id_f_educ, endDate, "
               "id_group HAVING (id_a_year =") +
           QString::number(year) + QStringLiteral(") AND (id_w_s =") + QString::number(termKind) +
           QStringLiteral(") AND (id_group = ") + QString::number(group) + QStringLiteral(")");
}

QString lessonKind(const ChosenClass& c) {
    return QStringLiteral(
               "SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM "
               "dbo.RRNKkrdt WHERE (id_w_s =         ") +
           c.termKindRow + QStringLiteral(") AND   (id_discipline =  ") + c.discipline +
           QStringLiteral(") AND   (id_teacher =     ") + c.teacher + QStringLiteral(") AND   (id_a_year =      ") +
           c.year + QStringLiteral(") AND   (id_kafedra =     ") + c.department +
           QStringLiteral(") AND   (id_examination = ") + c.examination + QStringLiteral(") AND   (subgroup =       ") +
           c.stream + QStringLiteral(") AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup");
}

QString streamFaculty(const ChosenClass& c) {
    return QStringLiteral("SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = ") + c.year +
           QStringLiteral(") AND (id_w_s = ") + c.termKindRow + QStringLiteral(") AND (id_kafedra = ") + c.department +
           QStringLiteral(") AND (id_teacher = ") + c.teacher + QStringLiteral(") AND (id_discipline = ") +
           c.discipline + QStringLiteral(") AND (id_examination = ") + c.examination +
           QStringLiteral(") AND (subgroup = ") + c.stream + QStringLiteral(")");
}

QString creditSum(int studentId, const ChosenClass& c) {
    // The database is named, as for the kinds of term.
    return QStringLiteral(
               "SELECT  Sum([kredits]) as Sumkredits FROM "
               "[QTL].[dbo].[DisciplineForStudent] where id_student=") +
           QString::number(studentId) + QStringLiteral(" and id_semester=") + c.insSemesterId +
           QStringLiteral(" and id_group=") + c.group + QStringLiteral(" and id_a_year=") + c.year;
}

QString registration(int studentId, const ChosenClass& c, const QString& login, const QString& faculty,
                     const QString& lessonKind) {
    // The year and the registering semester are written twice: once as the registration's own
    // year and semester, once as the year and semester it was made in.
    return QStringLiteral(
               "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, "
               "id_discipline, id_a_year, id_semester, id_ins_year, id_ins_semester, "
               "id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, "
               "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES(") +
           QString::number(studentId) + QStringLiteral(", ") + c.descGroupNum + QStringLiteral(", ") + c.discipline +
           QStringLiteral(",") + c.year + QStringLiteral(",") + c.insSemesterId + QStringLiteral(",") + c.year +
           QStringLiteral(",") + c.insSemesterId + QStringLiteral(",") + c.teacher + QStringLiteral(",") + c.group +
           QStringLiteral(",") + c.examination + QStringLiteral(",") + c.stream + QStringLiteral(", ") +
           WrapInQuotes(login) + QStringLiteral(",") + faculty + QStringLiteral(",") + c.department +
           QStringLiteral(",") + c.credits + QStringLiteral(",") + c.isByPlan + QStringLiteral(",") + lessonKind +
           QStringLiteral(")");
}

QString removal(int registrationId) {
    return QStringLiteral("DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = ") +
           QString::number(registrationId) + QStringLiteral(")");
}

QVector<TKeyValue> removalAudit(const ChosenClass& c, int studentId, int registrationId) {
    // The selection of the window at the time of the deletion, then the row's own keys.
    return {
        {QStringLiteral("id_faculty"), c.faculty},
        {QStringLiteral("id_a_year"), c.year},
        {QStringLiteral("id_kafedra"), c.department},
        {QStringLiteral("id_teacher"), c.teacher},
        {QStringLiteral("id_w_s"), c.termKind},
        {QStringLiteral("id_discipline"), c.discipline},
        {QStringLiteral("Krdt"), c.credits},
        {QStringLiteral("id_examination"), c.examination},
        {QStringLiteral("id_group"), c.group},
        {QStringLiteral("subgroup"), c.stream},
        {QStringLiteral("id_student"), QString::number(studentId)},
        {QStringLiteral("id_disciplineForStudent"), QString::number(registrationId)},
    };
}

}  // namespace statements

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
#ifndef Q_OS_WIN
    // The login's substitutions may not be registered yet when a test builds the window alone.
    // Windows has the fonts themselves.
    QFont::insertSubstitution(QStringLiteral("Palatino Linotype"), QStringLiteral("P052"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
#endif
    Form1 = this;
    buildLayout();
    buildClassListButton();
    connectHandlers();
    setUpAssistiveAccess();
    FormCreate();
}

TForm1::~TForm1() {
    // Children die after this body; none of their signals may reach the half-destroyed window.
    for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
    if (Form1 == this) Form1 = nullptr;
}

// ------------------------------------------------------------------------------------------
// Layout

void TForm1::buildLayout() {
    InitPictures();  // the button glyphs live in the program's static library
    setObjectName(QStringLiteral("Form1"));
    // The login replaces it with the full caption.
    setWindowTitle(QLatin1String(kProgramTag) + QLatin1Char(' '));
    setFont(WindowFont());
    setMinimumSize(805, 574);
    resize(927, 644);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.left() + (desk.width() - 927) / 2, desk.top() + (desk.height() - 644) / 2);
    }
    // Qt paints every widget through its backing store, so the list, the editor panel and its
    // two selectors are already flicker-free; nothing here may opt out (no WA_PaintOnScreen).

    // Children are created top to bottom in the order the keyboard visits them.
    buildToolBar();
    buildSelectors();
    Bevel6 = panel(this, "Bevel6");
    buildStudentsGroup();
    buildRegisterPanel();
    buildStreamsGroup();
    layoutEditor();

    Frame11 = new TFrame1(this, this);
    Frame11->setObjectName(QStringLiteral("Frame11"));

    bindSelectors();
    CheckListBox1->setDrawItem([this](QPainter* p, const QRect& r, int index, bool selected) {
        CheckListBox1DrawItem(p, r, index, selected);
    });
}

// The selection area's tool bar: the removal button, shown once the rights check allows it.
void TForm1::buildToolBar() {
    Panel5 = panel(this, "Panel5");
    ToolBar1 = panel(Panel5, "ToolBar1");
    RzBitBtn1 = new QPushButton(QStringLiteral("Удалить регистрацию"), ToolBar1);
    RzBitBtn1->setObjectName(QStringLiteral("RzBitBtn1"));
    RzBitBtn1->setGeometry(0, 2, 169, 25);
    {
        QFont f = RzBitBtn1->font();
        f.setBold(true);
        RzBitBtn1->setFont(f);
    }
    RzBitBtn1->setStyleSheet(
        QStringLiteral("QPushButton { color: #800000; background: #f7f7f2; border: 1px solid #b4b4a8; }"
                       "QPushButton:hover { background: #fff6d0; border-color: #c08000; }"
                       "QPushButton:pressed { background: #e8e0c0; }"));
    {
        // Two states: the grey picture stands for the disabled button.
        QIcon glyph;
        glyph.addPixmap(QPixmap(QStringLiteral(":/remove_registration.png")), QIcon::Normal);
        glyph.addPixmap(QPixmap(QStringLiteral(":/remove_registration_disabled.png")), QIcon::Disabled);
        RzBitBtn1->setIcon(glyph);
        RzBitBtn1->setIconSize(QSize(16, 16));
    }
    RzBitBtn1->hide();
}

// The chain of selectors, each caption right-aligned against its box; all but the faculty wait
// for the step above them.
void TForm1::buildSelectors() {
    Label1 = rowCaption(Panel5, "Label1", QStringLiteral("Факультет:"), 31);
    DBLookupComboBox1 = lookup(Panel5, "DBLookupComboBox1", 139, 31, 653);
    Label2 = rowCaption(Panel5, "Label2", QStringLiteral("Учебный год:"), 54);
    DBLookupComboBox2 = lookup(Panel5, "DBLookupComboBox2", 139, 54, 188);
    Label9 = rowCaption(Panel5, "Label9", QStringLiteral("Кафедра:"), 77);
    DBLookupComboBox8 = lookup(Panel5, "DBLookupComboBox8", 139, 77, 654);
    Label10 = rowCaption(Panel5, "Label10", QStringLiteral("Преподаватель:"), 101);
    DBLookupComboBox9 = lookup(Panel5, "DBLookupComboBox9", 139, 101, 653);
    Label5 = rowCaption(Panel5, "Label5", QStringLiteral("Семестр:"), 125);
    DBLookupComboBox5 = lookup(Panel5, "DBLookupComboBox5", 139, 125, 188);
    Label6 = rowCaption(Panel5, "Label6", QStringLiteral("Дисциплина:"), 149);
    DBLookupComboBox6 = lookup(Panel5, "DBLookupComboBox6", 139, 149, 653);
    Label3 = rowCaption(Panel5, "Label3", QStringLiteral("Форма контроля:"), 172);
    DBLookupComboBox4 = lookup(Panel5, "DBLookupComboBox4", 139, 172, 653);
    Label4 = rowCaption(Panel5, "Label4", QStringLiteral("Группа:"), 196);
    DBLookupComboBox3 = lookup(Panel5, "DBLookupComboBox3", 139, 196, 653);
    for (LookupComboBox* c : {DBLookupComboBox2, DBLookupComboBox8, DBLookupComboBox9, DBLookupComboBox5,
                              DBLookupComboBox6, DBLookupComboBox4, DBLookupComboBox3})
        c->setEnabled(false);

    Label12 = new QLabel(Panel5);
    Label12->setObjectName(QStringLiteral("Label12"));
    Label12->move(136, 216);
    Label12->adjustSize();

    Panel3 = panel(Panel5, "Panel3");
    Panel3->setGeometry(0, 218, 160, 25);
    CheckBox2 = new QCheckBox(Panel3);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    CheckBox2->move(3, 6);
    CheckBox2->hide();
    DBLookupComboBox7 = lookup(Panel3, "DBLookupComboBox7", 20, 4, 135);
    DBLookupComboBox7->setEnabled(false);
    DBLookupComboBox7->setBackground(palette().color(QPalette::Button));
    DBLookupComboBox7->hide();
}

// The work area's left part: the students of the chosen group as a check list.
void TForm1::buildStudentsGroup() {
    Panel1 = panel(this, "Panel1");
    {
        QFont f = Panel1->font();
        f.setPixelSize(13);
        Panel1->setFont(f);
        SetTextColour(Panel1, kNavy);
    }
    GroupBox1 = new QFrame(Panel1);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    {
        QFont f = GroupBox1->font();
        f.setBold(true);
        GroupBox1->setFont(f);
    }
    CheckListBox1 = new CheckListBox(GroupBox1);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckBox1 = new QCheckBox(QStringLiteral("Студенты:"), GroupBox1);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(5, 0, 124, 17);
    SetTextColour(CheckBox1, Qt::black);
    CheckBox1->setToolTip(QStringLiteral("Выбрать всех"));
    CheckBox1->setEnabled(false);
    CheckBox1->setAutoFillBackground(true);  // the title sits over the group's frame line
}

// Between the two lists: the stream to register into and the two moving buttons.
void TForm1::buildRegisterPanel() {
    Panel2 = panel(Panel1, "Panel2");
    Panel2->resize(199, Panel2->height());
    Label11 = new QLabel(QStringLiteral("Поток:"), Panel2);
    Label11->setObjectName(QStringLiteral("Label11"));
    Label11->setFont(captionFont(true));
    SetTextColour(Label11, Qt::black);
    Label11->move(3, 43);
    Label11->adjustSize();
    DBLookupComboBox11 = lookup(Panel2, "DBLookupComboBox11", 3, 65, 193);
    QFont buttonFont(QStringLiteral("Palatino Linotype"));
    buttonFont.setPixelSize(16);
    buttonFont.setBold(true);
    SpeedButton1 = new QPushButton(QStringLiteral("Регистрировать >>"), Panel2);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(2, 107, 190, 35);
    SpeedButton1->setIcon(QIcon(QStringLiteral(":/register_arrow.png")));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setFont(buttonFont);
    SpeedButton1->setCursor(Qt::PointingHandCursor);
    SpeedButton1->setToolTip(
        QStringLiteral("Добавить выбранных студентов к выбраному преподавателю на выброную дисциплину"));
    SpeedButton1->setEnabled(false);
    SpeedButton2 = new QPushButton(QStringLiteral("<< Убрать регистр."), Panel2);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setGeometry(2, 153, 190, 33);
    SpeedButton2->setFont(buttonFont);
    SpeedButton2->setCursor(Qt::PointingHandCursor);
    SpeedButton2->setToolTip(QStringLiteral("Убрать студентов от выбраного преподавателя для выбраной дисциплины"));
    SpeedButton2->setEnabled(false);
}

// The work area's right part: the streams list and, over it, the stream editor (hidden until
// asked for).
void TForm1::buildStreamsGroup() {
    GroupBox2 = new QGroupBox(QStringLiteral("Студенты по потокам:"), Panel1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    {
        QFont f = GroupBox2->font();
        f.setBold(true);
        GroupBox2->setFont(f);
        SetTextColour(GroupBox2, Qt::black);
    }
    ListBox1 = new ListBox(GroupBox2);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));

    Panel4 = new QFrame(GroupBox2);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel4->setLineWidth(1);
    Panel4->setAutoFillBackground(true);
    Panel4->setGeometry(3, 19, 329, 134);
    Panel6 = panel(Panel4, "Panel6");
    Label8 = new QLabel(QStringLiteral("Преподователь:"), Panel6);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->move(5, 2);
    Label8->adjustSize();
    Panel7 = panel(Panel6, "Panel7");
    SpeedButton3 = new QPushButton(QStringLiteral("x"), Panel7);
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton3->setGeometry(0, 0, 16, 20);
    {
        QFont f = SpeedButton3->font();
        f.setBold(true);
        SpeedButton3->setFont(f);
    }
    SpeedButton3->setCursor(Qt::PointingHandCursor);
    DBLookupComboBox10 = lookup(Panel4, "DBLookupComboBox10", 8, 29, 316);
    Label7 = new QLabel(QStringLiteral("Поток:"), Panel4);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->move(8, 53);
    Label7->adjustSize();
    DBLookupComboBox12 = lookup(Panel4, "DBLookupComboBox12", 8, 72, 145);
    BitBtn1 = new QPushButton(QStringLiteral("Изменить"), Panel4);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(233, 101, 89, 25);
    BitBtn1->setEnabled(false);
    Panel4->hide();
    Panel4->installEventFilter(this);
    GroupBox2->installEventFilter(this);
    GroupBox1->installEventFilter(this);
}

void TForm1::bindSelectors() {
    DBLookupComboBox1->bind(DM_MB->DS_Faculty, QStringLiteral("id_faculty"), QStringLiteral("faculty"));
    DBLookupComboBox2->bind(DM_MB->DS_Year, QStringLiteral("id_a_year"), QStringLiteral("year"));
    DBLookupComboBox8->bind(DM_MB->DS_Kafedra, QStringLiteral("id_kafedra"), QStringLiteral("kafedra"));
    DBLookupComboBox9->bind(DM_MB->DS_Teacher, QStringLiteral("id_teacher"), QStringLiteral("t_fio"));
    DBLookupComboBox5->bind(DM_MB->DS_Semester, QStringLiteral("id_w_s"), QStringLiteral("p42"));
    DBLookupComboBox6->bind(DM_MB->DS_SelectDisciplineForStudent, QStringLiteral("rowNum"),
                            QStringLiteral("discipline"));
    DBLookupComboBox4->bind(DM_MB->DS_Examination, QStringLiteral("id_examination"), QStringLiteral("examination"));
    DBLookupComboBox3->bind(DM_MB->DS_group, QStringLiteral("id_group"), QStringLiteral("group"));
    DBLookupComboBox7->bind(DM_MB->DS_W_S, QStringLiteral("id_w_s"), QStringLiteral("p42"));
    DBLookupComboBox11->bind(DM_MB->DS_SubGroup, QStringLiteral("subgroup"), QStringLiteral("subgroupAndName"));
    DBLookupComboBox10->bind(DM_MB->DS_Teacher, QStringLiteral("id_teacher"), QStringLiteral("t_fio"));
    DBLookupComboBox12->bind(DM_MB->DS_SubGroup3, QStringLiteral("subgroup"), QStringLiteral("subgroup"));
}

// The window's own docking: the selection area and the spacer on top, the transfer frame at the
// bottom, the work area in between. Integer arithmetic only, so FormResize stays exact.
void TForm1::layoutRegions() {
    const int w = width();
    const int h = height();
    Panel5->setGeometry(0, 0, w, 249);
    ToolBar1->setGeometry(0, 0, w, 29);
    Bevel6->setGeometry(0, 249, w, 4);
    const int frameTop = std::max(253, h - 127);
    Frame11->setGeometry(0, frameTop, w, 127);
    Panel1->setGeometry(0, 253, w, frameTop - 253);
    layoutWorkArea();
}

// GroupBox1 and Panel2 docked left (GroupBox1 keeps the width FormResize gave it), GroupBox2
// takes the rest.
void TForm1::layoutWorkArea() {
    const int w = Panel1->width();
    const int h = Panel1->height();
    const int g1 = GroupBox1->width();
    GroupBox1->setGeometry(0, 0, g1, h);
    Panel2->setGeometry(g1, 0, Panel2->width(), h);
    const int left2 = g1 + Panel2->width();
    GroupBox2->setGeometry(left2, 0, std::max(0, w - left2), h);
}

void TForm1::layoutGroupBoxes() {
    CheckListBox1->setGeometry(2, 17, std::max(0, GroupBox1->width() - 4), std::max(0, GroupBox1->height() - 19));
    const QRect client = GroupBox2->contentsRect();
    ListBox1->setGeometry(client);
    if (m_editorFillsGroup) Panel4->setGeometry(client);
}

// Inside the editor: the title strip along the top with the close button at its right end.
void TForm1::layoutEditor() {
    Panel6->setGeometry(Panel4->contentsRect().left(), Panel4->contentsRect().top(), Panel4->contentsRect().width(),
                        20);
    Panel7->setGeometry(std::max(0, Panel6->width() - 20), 0, 20, 20);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == Panel4)
            layoutEditor();
        else if (watched == GroupBox1 || watched == GroupBox2)
            layoutGroupBoxes();
    }
    return QWidget::eventFilter(watched, event);
}

// ------------------------------------------------------------------------------------------
// Handlers

void TForm1::connectHandlers() {
    onEvent(DBLookupComboBox1, &LookupComboBox::clicked, this, [this] { DBLookupComboBox1Click(); });
    onEvent(DBLookupComboBox2, &LookupComboBox::clicked, this, [this] { DBLookupComboBox2Click(); });
    onEvent(DBLookupComboBox8, &LookupComboBox::clicked, this, [this] { DBLookupComboBox8Click(); });
    onEvent(DBLookupComboBox9, &LookupComboBox::clicked, this, [this] { DBLookupComboBox9Click(); });
    onEvent(DBLookupComboBox5, &LookupComboBox::clicked, this, [this] { DBLookupComboBox5Click(); });
    onEvent(DBLookupComboBox6, &LookupComboBox::clicked, this, [this] { DBLookupComboBox6Click(); });
    onEvent(DBLookupComboBox4, &LookupComboBox::clicked, this, [this] { DBLookupComboBox4Click(); });
    onEvent(DBLookupComboBox3, &LookupComboBox::clicked, this, [this] { DBLookupComboBox3Click(); });
    onEvent(DBLookupComboBox7, &LookupComboBox::clicked, this, [this] { DBLookupComboBox7Click(); });

    onEvent(CheckListBox1, &CheckListBox::clickCheck, this, [this] { CheckListBox1ClickCheck(); });
    onEvent(CheckListBox1, &CheckListBox::lineClicked, this, [this] { CheckListBox1Click(); });
    onEvent(CheckListBox1, &CheckListBox::keyPressed, this, [this](QKeyEvent* e) { CheckListBox1KeyDown(e); });
    onEvent(CheckListBox1, &CheckListBox::lineDoubleClicked, this, [this] { CheckListBox1DblClick(); });
    onEvent(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });

    onEvent(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
    onEvent(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
    onEvent(DBLookupComboBox11, &LookupComboBox::clicked, this, [this] { ComboBox1111Change(); });

    onEvent(ListBox1, &ListBox::keyPressed, this, [this](QKeyEvent* e) { ListBox1KeyDown(e); });
    onEvent(ListBox1, &ListBox::mousePressed, this,
            [this](Qt::MouseButton b, QPoint pos) { ListBox1MouseDown(b, pos); });
    onEvent(DBLookupComboBox10, &LookupComboBox::clicked, this, [this] { ComboBox2Change(DBLookupComboBox10); });
    onEvent(DBLookupComboBox12, &LookupComboBox::clicked, this, [this] { ComboBox2Change(DBLookupComboBox12); });
    onEvent(DBLookupComboBox12, &LookupComboBox::keyPressed, this,
            [this](QKeyEvent* e) { DBLookupComboBox12KeyDown(e); });
    onEvent(DBLookupComboBox10, &LookupComboBox::keyPressed, this,
            [this](QKeyEvent* e) { DBLookupComboBox10KeyDown(e); });
    onEvent(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    onEvent(SpeedButton3, &QPushButton::clicked, this, [this] { SpeedButton3Click(); });

    onEvent(RzBitBtn1, &QPushButton::clicked, this, [this] { RzBitBtn1Click(); });
    onEvent(Frame11->BitBtn1, &QPushButton::clicked, this, [this] { Frame11BitBtn1Click(); });
    onEvent(Frame11->BitBtn2, &QPushButton::clicked, this, [this] { Frame11BitBtn2Click(); });
    onEvent(Frame11->DBLookupComboBox8, &LookupComboBox::clicked, this, [this] { Frame11DBLookupComboBox8Click(); });
    onEvent(Frame11->DBLookupComboBox9, &LookupComboBox::clicked, this, [this] { Frame11DBLookupComboBox9Click(); });
    onEvent(Frame11->DBLookupComboBox111, &LookupComboBox::clicked, this,
            [this] { Frame11DBLookupComboBox111Click(); });
    onEvent(Frame11->DBLookupComboBox121, &LookupComboBox::clicked, this,
            [this] { Frame11DBLookupComboBox121Click(); });
}

// ------------------------------------------------------------------------------------------
// Shell

void TForm1::FormCreate() {
    m_loginAccepted = RunLogin ? RunLogin(this) : true;
    if (!m_loginAccepted) return;  // the program start sees this and ends without showing the window
    layoutRegions();
    FormResize();
}

void TForm1::FormResize() {
    Panel3->move(GroupBox2->x(), Panel3->y());
    DBLookupComboBox8->resize(Panel5->width() - DBLookupComboBox8->x() - 5, DBLookupComboBox8->height());
    const int wide = DBLookupComboBox8->width();
    for (LookupComboBox* c : {DBLookupComboBox1, DBLookupComboBox9, DBLookupComboBox6}) c->resize(wide, c->height());
    DBLookupComboBox4->resize(DBLookupComboBox6->width(), DBLookupComboBox4->height());
    DBLookupComboBox3->resize(wide, DBLookupComboBox3->height());
    GroupBox1->resize((Panel1->width() - Panel2->width()) / 2, GroupBox1->height());
    layoutWorkArea();
}

void TForm1::FormPaint() {
    if (Panel3->x() != GroupBox2->x()) Panel3->move(GroupBox2->x(), Panel3->y());
}

void TForm1::FormShow() {
    Query* q = DM_MB->ADOQ_Exec;
    q->close();
    q->setSql(statements::removalRight(g_signIn.CurrentLogin));
    q->open();
    RzBitBtn1->setVisible(q->recordCount() > 0);
    RzBitBtn2->move(RzBitBtn1->isHidden() ? 0 : RzBitBtn1->geometry().right() + 5, 2);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutRegions();
    guarded(this, [this] { FormResize(); });
}

void TForm1::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    FormPaint();
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_shownOnce) return;
    m_shownOnce = true;
    try {
        FormShow();
    } catch (...) {
        // The window is not usable without knowing the operator's rights: show why and end.
        reportException(this, std::current_exception());
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    }
}

// ------------------------------------------------------------------------------------------
// Selection chain

void TForm1::ClearTransferFrame() {
    Frame11->DBLookupComboBox8->clearKey();
    Frame11->DBLookupComboBox9->clearKey();
    Frame11->Edit3->clear();
    Frame11->DBLookupComboBox11->clearKey();
    Frame11->BitBtn1->setEnabled(false);
}

void TForm1::ClearItemList(QListWidget* list) {
    if (auto* check = qobject_cast<CheckListBox*>(list))
        check->clearLines();
    else if (auto* plain = qobject_cast<ListBox*>(list))
        plain->clearLines();
    else if (list)
        list->clear();
}

void TForm1::ClearBothLists() {
    ClearItemList(CheckListBox1);
    ClearItemList(ListBox1);
    RzBitBtn2->setEnabled(false);
}

ChosenClass TForm1::chosenClass() const {
    const Query* discipline = DM_MB->ADOQ_SelectDisciplineForStudent;
    ChosenClass c;
    c.faculty = DBLookupComboBox1->keyText();
    c.year = DBLookupComboBox2->keyText();
    c.department = DBLookupComboBox8->keyText();
    c.teacher = DBLookupComboBox9->keyText();
    c.termKind = DBLookupComboBox5->keyText();
    c.termKindRow = DM_MB->ADOQ_Semester->fieldAsString(QStringLiteral("id_w_s"));
    c.discipline = discipline->fieldAsString(QStringLiteral("id_discipline"));
    c.credits = discipline->fieldAsString(QStringLiteral("Krdt"));
    c.examination = DBLookupComboBox4->keyText();
    c.group = DBLookupComboBox3->keyText();
    c.stream = DBLookupComboBox11->keyText();
    c.insSemesterId = SelectedInsSemesterId;
    c.descGroupNum = SelectedDescGroupNum;
    c.isByPlan = SelectedIsByPlan;
    return c;
}

QVariant TForm1::chosenGroupKey() const {
    return DBLookupComboBox3->keyValue();
}

QString TForm1::shownStream() const {
    return DBLookupComboBox11->shownText();
}

int TForm1::selectedStudentLine() const {
    return CheckListBox1->itemIndex();
}

bool TForm1::studentLineRegistered(int line) const {
    const auto* item = dynamic_cast<const StudentItem*>(CheckListBox1->record(line));
    return item && item->IsSelected;
}

// The transfer frame's copy button registers an unregistered student through the register
// button's click, together with the students ticked before.
void TForm1::tickAndRegister(int line) {
    CheckListBox1->setChecked(line, true);
    SpeedButton1Click();
}

void TForm1::openingOfStep() {
    Panel4->hide();
    DBLookupComboBox11->clearKey();
    DBLookupComboBox11->closeUp();
    DM_MB->ADOQ_SubGroup->close();
    ClearTransferFrame();
}

void TForm1::resetBelow(std::initializer_list<LookupComboBox*> boxes) {
    for (LookupComboBox* c : boxes) c->closeUp();
    for (LookupComboBox* c : boxes) {
        c->clearKey();
        c->setEnabled(false);
    }
    DBLookupComboBox11->setEnabled(false);
    DBLookupComboBox11->clearKey();
    SpeedButton1->setEnabled(false);
    SpeedButton2->setEnabled(false);
    CheckBox1->setEnabled(false);
    ClearBothLists();
}

void TForm1::DBLookupComboBox1Click() {
    Panel4->hide();
    DM_MB->ADOQ_SubGroup->close();
    DM_MB->ADOQ_Year->open();
    ClearTransferFrame();
    DM_MB->ADOQ_group->close();
    DM_MB->ADOQ_Examination->close();
    DBLookupComboBox11->clearKey();
    for (LookupComboBox* c : {DBLookupComboBox11, DBLookupComboBox2, DBLookupComboBox8, DBLookupComboBox9,
                              DBLookupComboBox5, DBLookupComboBox6, DBLookupComboBox4, DBLookupComboBox3})
        c->closeUp();
    DBLookupComboBox2->setEnabled(true);
    DBLookupComboBox2->clearKey();
    DBLookupComboBox2->dropDown();
    for (LookupComboBox* c : {DBLookupComboBox8, DBLookupComboBox9, DBLookupComboBox5, DBLookupComboBox6,
                              DBLookupComboBox4, DBLookupComboBox3}) {
        c->clearKey();
        c->setEnabled(false);
    }
    DBLookupComboBox11->setEnabled(false);
    DBLookupComboBox11->clearKey();
    SpeedButton1->setEnabled(false);
    SpeedButton2->setEnabled(false);
    CheckBox1->setEnabled(false);
    ClearBothLists();
}

void TForm1::DBLookupComboBox2Click() {
    openingOfStep();
    resetBelow({DBLookupComboBox8, DBLookupComboBox9, DBLookupComboBox5, DBLookupComboBox6, DBLookupComboBox4,
                DBLookupComboBox3});
    if (!DBLookupComboBox2->hasKey()) return;
    Query* q = DM_MB->ADOQ_Kafedra;
    q->close();
    q->setParam(QStringLiteral("id_a_year"), DBLookupComboBox2->keyValue());
    q->open();
    DBLookupComboBox8->clearKey();
    DBLookupComboBox8->setEnabled(true);
    DBLookupComboBox8->dropDown();
}

void TForm1::DBLookupComboBox8Click() {
    openingOfStep();
    resetBelow({DBLookupComboBox9, DBLookupComboBox5, DBLookupComboBox6, DBLookupComboBox4, DBLookupComboBox3});
    if (!DBLookupComboBox8->hasKey()) return;
    const ChosenClass c = chosenClass();
    Query* q = DM_MB->ADOQ_Teacher;
    q->setSql(statements::teachers(c));
    q->open();
    DBLookupComboBox9->clearKey();
    DBLookupComboBox9->setEnabled(true);
    DBLookupComboBox9->dropDown();
}

void TForm1::DBLookupComboBox9Click() {
    Panel4->hide();
    if (!DBLookupComboBox9->hasKey()) return;
    Query* q = DM_MB->ADOQ_Semester;
    q->setSql(statements::termKinds());
    q->open();
    if (DBLookupComboBox3->hasKey()) LoadStreamChoices();
    DM_MB->ADOQ_Year->open();
    DBLookupComboBox2->setEnabled(true);
    DBLookupComboBox9->setFocus();
    if (DBLookupComboBox4->hasKey()) {
        LoadStreamsList();
        ComboBox1111Change();
    }
    if (!DBLookupComboBox5->hasKey()) {
        DBLookupComboBox5->clearKey();
        DBLookupComboBox5->setEnabled(true);
        DBLookupComboBox5->dropDown();
    }
}

void TForm1::DBLookupComboBox5Click() {
    openingOfStep();
    resetBelow({DBLookupComboBox6, DBLookupComboBox4, DBLookupComboBox3});
    if (!DBLookupComboBox5->hasKey()) return;
    const ChosenClass c = chosenClass();
    Query* q = DM_MB->ADOQ_SelectDisciplineForStudent;
    q->close();
    q->setSql(statements::disciplines(c));
    q->open();
    DBLookupComboBox6->clearKey();
    DBLookupComboBox6->setEnabled(true);
    DBLookupComboBox6->dropDown();
    DBLookupComboBox7->setKeyValue(currentValue(DM_MB->ADOQ_Semester, QStringLiteral("id_w_s")));
    // Checking the box from code runs its click once when it changes; the step runs it again.
    const bool wasChecked = CheckBox2->isChecked();
    CheckBox2->setChecked(true);
    if (!wasChecked) CheckBox2Click();
    CheckBox2Click();
}

void TForm1::CheckBox2Click() {
    DBLookupComboBox7->setEnabled(CheckBox2->isChecked());
    DBLookupComboBox7->setKeyValue(currentValue(DM_MB->ADOQ_W_S, QStringLiteral("id_w_s")));
    DBLookupComboBox5->setBackground(palette().color(QPalette::Button));
    DBLookupComboBox7->setBackground(Qt::white);
    if (DBLookupComboBox6->hasKey()) LoadStreamsList();
}

void TForm1::DBLookupComboBox7Click() {
    if (DBLookupComboBox6->hasKey()) LoadStreamsList();
}

void TForm1::DBLookupComboBox6Click() {
    openingOfStep();
    resetBelow({DBLookupComboBox4, DBLookupComboBox3});
    if (!DBLookupComboBox6->hasKey()) return;
    const ChosenClass c = chosenClass();
    Query* q = DM_MB->ADOQ_Examination;
    q->close();
    q->setSql(statements::examinations(c));
    q->open();
    DBLookupComboBox4->clearKey();
    DBLookupComboBox4->setEnabled(true);
    DBLookupComboBox4->dropDown();
    QCoreApplication::processEvents();
    DBLookupComboBox6->setFocus();
}

void TForm1::DBLookupComboBox4Click() {
    openingOfStep();
    DBLookupComboBox3->closeUp();
    DBLookupComboBox3->clearKey();
    DBLookupComboBox3->setEnabled(false);
    DBLookupComboBox11->setEnabled(false);
    DBLookupComboBox11->clearKey();
    SpeedButton1->setEnabled(false);
    CheckBox1->setEnabled(false);
    ClearItemList(CheckListBox1);
    if (DBLookupComboBox4->hasKey()) {
        const ChosenClass c = chosenClass();
        Query* q = DM_MB->ADOQ_group;
        q->close();
        // Kind of term 3 offers every group of the faculty that studies in the year.
        q->setSql(statements::groups(c, DM_MB->ADOQ_Semester->fieldAsInt(QStringLiteral("id_w_s")) == 3));
        q->open();
        DBLookupComboBox3->clearKey();
        DBLookupComboBox3->setEnabled(true);
        DBLookupComboBox3->dropDown();
        DBLookupComboBox4->setFocus();
    }
    LoadStreamsList();
}

void TForm1::DBLookupComboBox3Click() {
    const ChosenClass c = chosenClass();
    Query* q = DM_MB->ADOQ_Exec;
    q->close();
    q->setSql(statements::registeringSemester(c));
    q->open();
    SelectedInsSemesterId = q->fieldAsString(QStringLiteral("id_semester"));

    Panel4->hide();
    DBLookupComboBox11->clearKey();
    DBLookupComboBox11->closeUp();
    ClearTransferFrame();

    SpeedButton1->setEnabled(false);
    SpeedButton2->setEnabled(true);
    ClearItemList(CheckListBox1);

    if (DBLookupComboBox3->hasKey()) {
        CheckBox1->setEnabled(true);
        DBLookupComboBox11->clearKey();
        DBLookupComboBox11->setEnabled(true);
        LoadStudentList();
        LoadStreamChoices();
        ComboBox1111Change();
        DBLookupComboBox3->setFocus();
    }

    Query* e = DM_MB->ADOQ_group_educ;
    e->close();
    e->setSql(statements::formOfStudy(StrToInt(c.group)));
    e->open();
    Label12->setText(QStringLiteral("Форма обучение: ") + e->fieldAsString(QStringLiteral("p108")));
    Label12->adjustSize();
}

// ------------------------------------------------------------------------------------------
// Student check list

void TForm1::LoadStudentList() {
    ClearItemList(CheckListBox1);
    Query* q = DM_MB->ADOQ_Exec;
    ChosenClass c = chosenClass();
    q->close();
    q->setSql(statements::planNumber(c));
    q->open();
    SelectedDescGroupNum = q->fieldAsString(QStringLiteral("descGroupNum"));
    const int descGroupNum = StrToInt(SelectedDescGroupNum);
    SelectedIsByPlan = descGroupNum == -1 ? QStringLiteral("0") : QStringLiteral("1");
    c.descGroupNum = SelectedDescGroupNum;
    c.isByPlan = SelectedIsByPlan;

    // Kind of term 3 and a discipline not taken by plan list the students without a plan number.
    q->setSql(
        statements::students(c, DM_MB->ADOQ_Semester->fieldAsInt(QStringLiteral("id_w_s")) == 3 || descGroupNum == -1,
                             g_signIn.CurrentUserId));
    for (q->open(); !q->eof(); q->next()) {
        auto item = std::make_unique<StudentItem>();
        item->id_student = q->fieldAsInt(QStringLiteral("id_student"));
        item->IsSelected = q->fieldAsBool(QStringLiteral("IsSelected"));
        item->IsTeacher = q->fieldAsBool(QStringLiteral("IsTeacher"));
        CheckListBox1->addLine(q->fieldAsString(QStringLiteral("s_fio")), std::move(item));
    }
    q->close();
    CheckBox1->setText(QStringLiteral("Студенты - [") + QString::number(CheckListBox1->count()) + QStringLiteral("]:"));
}

QColor TForm1::studentLineColour(int index, bool selected) const {
    if (selected) return QColor(51, 153, 255);
    const auto* item = dynamic_cast<const StudentItem*>(CheckListBox1->record(index));
    if (item && item->IsSelected && !item->IsTeacher) return QColor(213, 232, 45);
    if (item && item->IsSelected && item->IsTeacher) return QColor(185, 255, 185);
    return CheckListBox1->palette().color(QPalette::Base);
}

void TForm1::CheckListBox1DrawItem(QPainter* painter, const QRect& rect, int index, bool selected) {
    painter->save();
    painter->setClipRect(rect);
    painter->fillRect(rect, studentLineColour(index, selected));
    painter->setFont(CheckListBox1->font());
    painter->setPen(CheckListBox1->palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QFontMetrics fm(CheckListBox1->font());
    const int top = rect.top() + rect.height() / 2 - fm.height() / 2;
    painter->drawText(rect.left() + 1, top + fm.ascent(), CheckListBox1->lineText(index));
    painter->restore();
}

void TForm1::CheckListBox1ClickCheck() {
    const int index = CheckListBox1->itemIndex();
    if (index < 0) return;
    const auto* item = dynamic_cast<const StudentItem*>(CheckListBox1->record(index));
    if (item && item->IsSelected) {
        CheckListBox1->setChecked(index, false);
        MessageBoxes::ask(this, QStringLiteral("Данный студент уже назначен на дисциплину."),
                          QStringLiteral("Уведомление"), MbIcon::Warning, MbButtons::Ok);
    }
}

void TForm1::CheckListBox1Click() {
    // A mouse press makes the line current just before it selects it, so while this handler runs
    // the current line is the one being chosen.
    const int index = CheckListBox1->currentRow();
    if (index < 0 || Frame11->isHidden()) return;
    const auto* item = dynamic_cast<const StudentItem*>(CheckListBox1->record(index));
    const int studentId = item ? item->id_student : 0;
    const ChosenClass c = chosenClass();
    const int examinationId = StrToInt(c.examination);
    // The discipline row's own integer reading: a closed or empty list gives 0, not an error.
    const int disciplineId = DM_MB->ADOQ_SelectDisciplineForStudent->fieldAsInt(QStringLiteral("id_discipline"));
    const int insSemesterId = StrToInt(c.insSemesterId);
    const int insYearId = StrToInt(c.year);
    const int descGroupNum = StrToInt(c.descGroupNum);
    const int groupId = StrToInt(c.group);
    Frame11->LoadStudentRegistration(studentId, examinationId, disciplineId, insSemesterId, insYearId, descGroupNum,
                                     groupId);
}

void TForm1::CheckListBox1KeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert && SpeedButton1->isEnabled()) SpeedButton1Click();
}

void TForm1::CheckListBox1DblClick() {}

void TForm1::CheckBox1Click() {
    const bool all = CheckBox1->isChecked();
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        const auto* item = dynamic_cast<const StudentItem*>(CheckListBox1->record(i));
        CheckListBox1->setChecked(i, (item && item->IsSelected) ? false : all);
    }
}

// ------------------------------------------------------------------------------------------
// Streams list, stream chooser and stream editor

QString TForm1::streamsTermCondition(const ChosenClass& c) const {
    return CheckBox2->isChecked() ? statements::termByKind(DBLookupComboBox7->keyText())
                                  : statements::termBySemester(c.insSemesterId);
}

void TForm1::LoadStreamsList() {
    ClearItemList(ListBox1);
    RzBitBtn2->setEnabled(false);
    Query* q = DM_MB->ADOQ_Exec;
    const ChosenClass c = chosenClass();
    q->close();
    q->setSql(statements::streams(c, streamsTermCondition(c)));
    for (q->open(); !q->eof(); q->next()) {
        auto item = std::make_unique<StreamItem>();
        item->id_disciplineForStudent = q->fieldAsInt(QStringLiteral("id_disciplineForStudent"));
        item->id_faculty = q->fieldAsInt(QStringLiteral("id_faculty"));
        item->id_student = q->fieldAsInt(QStringLiteral("id_student"));
        ListBox1->addLine(q->fieldAsString(QStringLiteral("s_fio")), std::move(item));
    }
    GroupBox2->setTitle(QStringLiteral("Студенты по потокам - [") + QString::number(ListBox1->count()) +
                        QStringLiteral("]:"));
    q->close();
    RzBitBtn2->setEnabled(true);  // an empty list too: its class list says it is empty
}

void TForm1::ReloadLists() {
    LoadStudentList();
    LoadStreamsList();
}

void TForm1::LoadStreamChoices() {
    Query* disc = DM_MB->ADOQ_SelectDisciplineForStudent;
    const QVariant idDiscipline = currentValue(disc, QStringLiteral("id_discipline"));
    const QVariant idWs = currentValue(DM_MB->ADOQ_Semester, QStringLiteral("id_w_s"));

    Query* s = DM_MB->ADOQ_SubGroup;
    s->close();
    s->setParam(QStringLiteral("id_a_year"), DBLookupComboBox2->keyValue());
    s->setParam(QStringLiteral("id_kafedra"), DBLookupComboBox8->keyValue());
    s->setParam(QStringLiteral("id_teacher"), DBLookupComboBox9->keyValue());
    s->setParam(QStringLiteral("id_discipline"), idDiscipline);
    s->setParam(QStringLiteral("id_examination"), DBLookupComboBox4->keyValue());
    s->setParam(QStringLiteral("kredit"), currentValue(disc, QStringLiteral("Krdt")));
    s->setParam(QStringLiteral("id_w_s"), idWs);
    s->open();

    Query* s3 = DM_MB->ADOQ_SubGroup3;
    s3->close();
    s3->setParam(QStringLiteral("id_a_year"), DBLookupComboBox2->keyValue());
    s3->setParam(QStringLiteral("id_kafedra"), DBLookupComboBox8->keyValue());
    s3->setParam(QStringLiteral("id_teacher"), DBLookupComboBox9->keyValue());
    s3->setParam(QStringLiteral("id_discipline"), idDiscipline);
    s3->setParam(QStringLiteral("id_examination"), DBLookupComboBox4->keyValue());
    s3->setParam(QStringLiteral("id_o_z"), currentValue(DM_MB->ADOQ_group, QStringLiteral("o_z")));
    s3->setParam(QStringLiteral("id_w_s"), idWs);
    s3->open();

    DBLookupComboBox11->setKeyValue(s->isEmpty() ? QVariant() : s->valueAt(0, QStringLiteral("subgroup")));
}

void TForm1::ComboBox1111Change() {
    SpeedButton1->setEnabled(DBLookupComboBox11->hasKey() && DBLookupComboBox11->isEnabled());
}

void TForm1::ListBox1KeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && SpeedButton2->isEnabled()) SpeedButton2Click();
}

void TForm1::ListBox1MouseDown(Qt::MouseButton button, QPoint) {
    if (button != Qt::RightButton || ListBox1->selectedCount() == 0) return;
    m_editorFillsGroup = true;
    Panel4->setGeometry(GroupBox2->contentsRect());
    Panel4->show();
    Panel4->raise();
    DBLookupComboBox12->setFocus();
    DBLookupComboBox12->clearKey();
    DBLookupComboBox10->setKeyValue(DBLookupComboBox9->keyValue());
    BitBtn1->setEnabled(false);
}

void TForm1::ComboBox2Change(LookupComboBox* sender) {
    if (sender == DBLookupComboBox10 && DBLookupComboBox10->hasKey()) {
        Query* s3 = DM_MB->ADOQ_SubGroup3;
        s3->close();
        s3->setParam(QStringLiteral("id_teacher"), DBLookupComboBox10->keyValue());
        s3->open();
        DBLookupComboBox12->clearKey();
    }
    BitBtn1->setEnabled(DBLookupComboBox12->hasKey() && DBLookupComboBox10->hasKey());
}

void TForm1::DBLookupComboBox12KeyDown(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && BitBtn1->isEnabled())
        DBLookupComboBox10->setFocus();
}

void TForm1::DBLookupComboBox10KeyDown(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && BitBtn1->isEnabled()) BitBtn1->setFocus();
}

void TForm1::BitBtn1Click() {
    Query* q = DM_MB->ADOQ_Exec;
    for (int i = 0; i < ListBox1->count(); ++i) {
        if (!ListBox1->isSelected(i)) continue;
        const auto* item = dynamic_cast<const StreamItem*>(ListBox1->record(i));
        q->setSql(statements::moveInEditor(DBLookupComboBox12->keyText(), DBLookupComboBox10->keyText(),
                                           item ? item->id_disciplineForStudent : 0));
        q->execute();
    }
    LoadStreamsList();
    SpeedButton3Click();
}

void TForm1::SpeedButton3Click() {
    DBLookupComboBox10->clearKey();
    Panel4->hide();
}

// ------------------------------------------------------------------------------------------
// Toolbar and transfer frame

void TForm1::RzBitBtn1Click() {
    TForm4 search(this);
    search.exec();
}

void TForm1::Frame11BitBtn1Click() {
    if (!RegistrationDeadlineCheck()) return;
    Frame11->BitBtn1Click();
    ReloadLists();
}

void TForm1::Frame11BitBtn2Click() {
    Frame11->BitBtn2Click();
}
void TForm1::Frame11DBLookupComboBox8Click() {
    Frame11->DBLookupComboBox8Click();
}
void TForm1::Frame11DBLookupComboBox9Click() {
    Frame11->DBLookupComboBox9Click();
}
void TForm1::Frame11DBLookupComboBox111Click() {
    Frame11->DBLookupComboBox9Click();
}
void TForm1::Frame11DBLookupComboBox121Click() {
    Frame11->DBLookupComboBox9Click();
}

}  // namespace qtl

// ---- writing registrations: the registration deadline, registering the ticked students and
// removing the selected registrations with their audit rows.

namespace qtl {

namespace {

const QChar kDoubleQuote = QLatin1Char('"');

}  // namespace

bool TForm1::RegistrationDeadlineCheck() {
    const ChosenClass c = chosenClass();
    Query* q = DM_MB->ADOQ_DATE_reg_DFS;
    q->close();
    q->setSql(statements::registrationDeadline(StrToInt(c.year), StrToInt(c.termKind), StrToInt(c.group)));
    q->open();
    // A null endDate and an empty result both read as 1899-12-30: the period is over.
    const QDate endDate = q->fieldAsDateTime(QStringLiteral("endDate")).date();
    const QDate today = Today ? Today() : QDate::currentDate();
    if (today > endDate) {
        MessageBoxes::ask(this, QStringLiteral("Сроки регистрации студентов на дисциплины закончены "),
                          QStringLiteral("Уведомление"), MbIcon::Warning, MbButtons::Ok);
        return false;
    }
    return true;
}

CreditVerdict checkCredits(qint64 held, const QString& credits, int formOfStudy, int limitOz0, int limitOz1) {
    CreditVerdict verdict;
    verdict.held = held;
    if (formOfStudy != 0 && formOfStudy != 1) return verdict;
    // 64-bit sums: a huge limit or credit value must not overflow the comparison.
    verdict.credits = StrToInt(credits);
    verdict.limit = qint64(formOfStudy == 0 ? limitOz0 : limitOz1) + 5;
    verdict.overLimit = verdict.held + verdict.credits > verdict.limit;
    return verdict;
}

QString refusalNotice(const QStringList& refusedLines) {
    // Every line but the last ends in a comma, the last in a full stop.
    QString text = QStringLiteral("Вы не имеете право удалять данных студентов:") + QChar(13);
    for (int i = 0; i < refusedLines.size(); ++i)
        text += kDoubleQuote + refusedLines[i] + kDoubleQuote + QLatin1Char(i + 1 == refusedLines.size() ? '.' : ',') +
                QStringLiteral("\r\n");
    return text;
}

void TForm1::reselectStudentLine(int index) {
    CheckListBox1->setItemIndex(index);
    CheckListBox1Click();
}

// The click of "Регистрировать >>"; the Insert key in the check list and the transfer frame's
// copy button (for a student not registered yet) run it too.
void TForm1::SpeedButton1Click() {
    if (!RegistrationDeadlineCheck()) return;
    const ChosenClass chosen = chosenClass();
    const StreamFacts stream = lookUpStream(chosen);
    const QVector<RegistrationOutcome> outcomes =
        registerTickedStudents(chosen, stream, [this](const RegistrationOutcome& outcome) {
            if (outcome.kind == RegistrationOutcome::Kind::OverLimit)
                MessageBoxes::ask(this, QStringLiteral("Количество кредитов превышено!!!"), applicationTitle(),
                                  MbIcon::None, MbButtons::Ok);
        });
    // A failure ends the click where it happened: what was registered stays, nothing reloads.
    if (!outcomes.isEmpty() && outcomes.last().kind == RegistrationOutcome::Kind::Failed)
        std::rethrow_exception(outcomes.last().exception);
    const int savedItemIndex = CheckListBox1->itemIndex();
    ReloadLists();
    reselectStudentLine(savedItemIndex);
}

TForm1::StreamFacts TForm1::lookUpStream(const ChosenClass& chosen) {
    Query* exec = DM_MB->ADOQ_Exec;
    StreamFacts facts;
    exec->close();
    exec->setSql(statements::lessonKind(chosen));
    exec->open();
    facts.lessonKind = exec->fieldAsString(QStringLiteral("id_vid_zaniatiy"));
    exec->close();
    exec->setSql(statements::streamFaculty(chosen));
    exec->open();
    facts.faculty = exec->fieldAsString(QStringLiteral("id_faculty"));
    return facts;
}

QVector<RegistrationOutcome> TForm1::registerTickedStudents(
    const ChosenClass& chosen, const StreamFacts& stream, const std::function<void(const RegistrationOutcome&)>& met) {
    QVector<RegistrationOutcome> outcomes;
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        if (!CheckListBox1->isChecked(i)) continue;
        outcomes << registerStudent(i, chosen, stream);
        met(outcomes.last());
        if (outcomes.last().kind == RegistrationOutcome::Kind::Failed) break;
    }
    return outcomes;
}

RegistrationOutcome TForm1::registerStudent(int line, const ChosenClass& chosen, const StreamFacts& stream) {
    const auto* student = static_cast<const StudentItem*>(CheckListBox1->record(line));
    RegistrationOutcome outcome;
    outcome.line = line;
    outcome.studentId = student->id_student;
    try {
        Query* exec = DM_MB->ADOQ_Exec;
        exec->close();
        exec->setSql(statements::creditSum(student->id_student, chosen));
        exec->open();
        // No registration yet reads as an empty sum.
        const bool none = exec->fieldAsString(QStringLiteral("Sumkredits")).isEmpty();
        const qint64 held = none ? 0 : exec->fieldAsInt(QStringLiteral("Sumkredits"));
        outcome.credits = checkCredits(held, chosen.credits, DM_MB->ADOQ_group->fieldAsInt(QStringLiteral("o_z")),
                                       g_signIn.CreditLimitForOz0, g_signIn.CreditLimitForOz1);
        if (outcome.credits.overLimit) {
            outcome.kind = RegistrationOutcome::Kind::OverLimit;
            return outcome;
        }
        exec->setSql(statements::registration(student->id_student, chosen, g_signIn.CurrentLogin, stream.faculty,
                                              stream.lessonKind));
        exec->execute();
    } catch (const AppError& e) {
        outcome.kind = RegistrationOutcome::Kind::Failed;
        outcome.error = e.text();
        outcome.exception = std::current_exception();
    }
    return outcome;
}

// The click of "<< Убрать регистр."; the Delete key in the streams list runs it too.
void TForm1::SpeedButton2Click() {
    if (!RegistrationDeadlineCheck()) return;
    if (!confirmRemoval()) return;

    const QVector<RemovalOutcome> outcomes = removeSelectedRegistrations(chosenClass());
    // A failure ends the click where it happened: what was removed stays removed, the refused
    // lines are not listed and nothing reloads.
    if (!outcomes.isEmpty() && outcomes.last().kind == RemovalOutcome::Kind::Failed)
        std::rethrow_exception(outcomes.last().exception);

    bool anyRemoved = false;
    QStringList refused;
    for (const RemovalOutcome& outcome : outcomes) {
        anyRemoved |= outcome.kind == RemovalOutcome::Kind::Removed;
        if (outcome.kind == RemovalOutcome::Kind::Refused) refused << outcome.lineText;
    }
    if (!refused.isEmpty())
        MessageBoxes::ask(this, refusalNotice(refused), QStringLiteral("Уведомление"), MbIcon::Warning, MbButtons::Ok);

    const int savedItemIndex = CheckListBox1->itemIndex();
    if (anyRemoved) ReloadLists();
    reselectStudentLine(savedItemIndex);
}

bool TForm1::confirmRemoval() {
    const QString question = QStringLiteral("Вы действительно хотите удалить выбранных студентов от преподавателя ") +
                             kDoubleQuote + DBLookupComboBox9->shownText() + kDoubleQuote +
                             QStringLiteral(", по дисциплине ") + kDoubleQuote + DBLookupComboBox6->shownText() +
                             kDoubleQuote + QStringLiteral("?");
    return MessageBoxes::ask(this, question, QStringLiteral("Уведомление"), MbIcon::Question, MbButtons::YesNo) ==
           MbResult::Yes;
}

QVector<RemovalOutcome> TForm1::removeSelectedRegistrations(const ChosenClass& chosen) {
    QVector<RemovalOutcome> outcomes;
    // From the last line up, so the refused lines are listed lowest first.
    for (int i = ListBox1->count() - 1; i >= 0; --i) {
        if (!ListBox1->isSelected(i)) continue;
        const auto* line = static_cast<const StreamItem*>(ListBox1->record(i));
        RemovalOutcome outcome;
        outcome.line = i;
        outcome.lineText = ListBox1->lineText(i);
        if (!DM_MB->ADOQ_Faculty->locate(QStringLiteral("id_faculty"), line->id_faculty)) {
            outcome.kind = RemovalOutcome::Kind::Refused;
            outcome.faculty = line->id_faculty;
            outcomes << outcome;
            continue;
        }
        try {
            DM_MB->DeleteWithAudit(statements::removal(line->id_disciplineForStudent),
                                   statements::removalAudit(chosen, line->id_student, line->id_disciplineForStudent),
                                   QStringLiteral("DisciplineForStudent"), line->id_disciplineForStudent);
        } catch (const AppError& e) {
            outcome.kind = RemovalOutcome::Kind::Failed;
            outcome.error = e.text();
            outcome.exception = std::current_exception();
            outcomes << outcome;
            break;
        }
        outcomes << outcome;
    }
    return outcomes;
}

}  // namespace qtl

// ---- the class list: the toolbar button, reading the list and opening its window.

namespace qtl {

void TForm1::buildClassListButton() {
    RzBitBtn2 = new QPushButton(QStringLiteral("Список потоков"), ToolBar1);
    RzBitBtn2->setObjectName(QStringLiteral("RzBitBtn2"));
    // The toolbar's look, as "Удалить регистрацию" has it.
    RzBitBtn2->setFont(RzBitBtn1->font());
    // Its own rule for the disabled state: without it the toolbar's maroon text looks the same
    // whether the list can be had or not.
    RzBitBtn2->setStyleSheet(RzBitBtn1->styleSheet() +
                             QStringLiteral("QPushButton:disabled { color: #a0a0a0; border-color: #d4d4cc; }"));
    RzBitBtn2->setCursor(Qt::PointingHandCursor);
    RzBitBtn2->setFocusPolicy(Qt::NoFocus);  // a toolbar button; the keys are Ctrl+P and Ctrl+S
    RzBitBtn2->setToolTip(
        QStringLiteral("Список студентов выбранной дисциплины по потокам: печать (Ctrl+P), PDF (Ctrl+S), CSV"));
    RzBitBtn2->setGeometry(RzBitBtn1->geometry().right() + 5, 2, std::max(140, RzBitBtn2->sizeHint().width()), 25);
    RzBitBtn2->setEnabled(false);
    onEvent(RzBitBtn2, &QPushButton::clicked, this, [this] { RzBitBtn2Click(); });
    const std::pair<QKeySequence, bool> keys[] = {{QKeySequence(Qt::CTRL | Qt::Key_P), false},
                                                  {QKeySequence(Qt::CTRL | Qt::Key_S), true}};
    for (const auto& [key, savePdfFirst] : keys) {
        auto* shortcut = new QShortcut(key, this);
        onEvent(shortcut, &QShortcut::activated, this, [this, pdf = savePdfFirst] {
            if (RzBitBtn2->isEnabled()) RzBitBtn2Click(pdf);
        });
    }
}

ClassList TForm1::readClassList() {
    const ChosenClass c = chosenClass();
    ClassList list;
    ClassListHeader& h = list.header;
    h.faculty = DBLookupComboBox1->shownText();
    h.year = DBLookupComboBox2->shownText();
    h.department = DBLookupComboBox8->shownText();
    h.teacher = DBLookupComboBox9->shownText();
    // The kind of term the streams list selects by, when it selects by one.
    h.termKind = CheckBox2->isChecked() && !DBLookupComboBox7->shownText().isEmpty() ? DBLookupComboBox7->shownText()
                                                                                     : DBLookupComboBox5->shownText();
    h.discipline = DBLookupComboBox6->shownText();
    h.credits = c.credits;
    h.examination = DBLookupComboBox4->shownText();
    h.date = Today ? Today() : QDate::currentDate();
    h.login = g_signIn.CurrentLogin;

    // A query of its own: the window's shared queries keep what they hold.
    Query q(DM_MB->ADOCon, QStringLiteral("ADOQ_ClassList"));
    q.setSql(statements::classList(c, streamsTermCondition(c)));
    for (q.open(); !q.eof(); q.next())
        list.addStudent(q.fieldAsString(QStringLiteral("subGroup")), q.fieldAsString(QStringLiteral("s_fio")),
                        q.fieldAsString(QStringLiteral("p20")));
    q.close();
    return list;
}

void TForm1::RzBitBtn2Click(bool savePdfFirst) {
    // A failed read ends here through the guard: its text is shown and no window opens.
    TForm6 window(readClassList(), this, savePdfFirst ? TForm6::First::SavePdf : TForm6::First::Print);
    window.exec();
}

}  // namespace qtl

// ---- what assistive technology reads of the window, and Enter on its buttons.

namespace qtl {

void TForm1::setUpAssistiveAccess() {
    // A frame named by its title (the sign-in writes the title).
    SetAccessibleRole(this, QAccessible::Window);
    // Each selector is named by the caption beside it.
    const std::pair<QLabel*, QWidget*> captions[] = {{Label1, DBLookupComboBox1},   {Label2, DBLookupComboBox2},
                                                     {Label9, DBLookupComboBox8},   {Label10, DBLookupComboBox9},
                                                     {Label5, DBLookupComboBox5},   {Label6, DBLookupComboBox6},
                                                     {Label3, DBLookupComboBox4},   {Label4, DBLookupComboBox3},
                                                     {Label11, DBLookupComboBox11}, {Label7, DBLookupComboBox12}};
    for (const auto& [caption, control] : captions) caption->setBuddy(control);
    // The editor's teacher caption sits in the editor's title strip, apart from its selector.
    DBLookupComboBox10->setAccessibleName(Label8->text());
    SpeedButton3->setAccessibleName(QStringLiteral("Закрыть"));  // the editor's "x"
    CheckListBox1->setAccessibleName(QStringLiteral("Студенты"));
    ListBox1->setAccessibleName(GroupBox2->title());
    // The colour of a registered student's line, in words.
    CheckListBox1->setDescribeLine(
        [this](int line) { return studentLineRegistered(line) ? QStringLiteral("зарегистрирован") : QString(); });
    PressFocusedButtonsOnEnter(this);
    // The style's focus mark on the select-all box is barely seen on the window's grey.
    FrameFocus(CheckBox1);
}

}  // namespace qtl
