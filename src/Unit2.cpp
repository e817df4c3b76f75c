#include "Unit2.h"

#include "dm_u.h"
#include "platform/Guard.h"
#include "platform/Look.h"

#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>

namespace qtl {

namespace {

QLabel* makeLabel(QWidget* parent, const QString& text, int left, int top, int width,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(text, parent);
    label->setFont(PalatinoBold(15));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    label->setAlignment(align);
    label->setGeometry(left, top, width, 20);
    return label;
}

LookupComboBox* makeSelector(QWidget* parent, ListSource* source, const QString& key, const QString& shown, int left,
                             int top, int width) {
    auto* box = new LookupComboBox(parent);
    box->bind(source, key, shown);
    box->setGeometry(left, top, width, 22);
    box->setMaxVisibleItems(25);
    QPalette pal = box->palette();
    pal.setColor(QPalette::Text, kNavy);
    pal.setColor(QPalette::ButtonText, kNavy);
    box->setPalette(pal);
    return box;
}

}  // namespace

namespace statements {

QString studentRegistration(int studentId, int insSemesterId, int insYearId, int disciplineId, int groupId,
                            int descGroupNum, const QString& credits) {
    return QStringLiteral("EXEC GetKPVStudentInfo   @id_student = ") + QString::number(studentId) +
           QStringLiteral(" ,@id_semester = ") + QString::number(insSemesterId) + QStringLiteral(" ,@id_a_year = ") +
           QString::number(insYearId) + QStringLiteral(" ,@id_discipline = ") + QString::number(disciplineId) +
           QStringLiteral(" ,@id_group =  ") + QString::number(groupId) + QStringLiteral(" ,@descGroupNum =  ") +
           QString::number(descGroupNum) + QStringLiteral(" ,@kredits =  ") + credits;
}

QString frameTeachers(const QString& department) {
    return QStringLiteral("SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, ") + department + QStringLiteral(")");
}

QString moveRegistration(const QString& teacher, const QString& stream, const QString& year, const QString& semester,
                         const ShownRegistration& shown, const QString& descGroupNum) {
    return QStringLiteral("UPDATE DisciplineForStudent SET id_teacher = ") + teacher + QStringLiteral(", subGroup = ") +
           stream + QStringLiteral(", id_a_year = ") + year + QStringLiteral(", id_semester = ") + semester +
           QStringLiteral(" WHERE ") + QStringLiteral("  id_student = ") + QString::number(shown.studentId) +
           QStringLiteral(" AND id_ins_year = ") + QString::number(shown.insYearId) +
           QStringLiteral(" AND id_examination = ") + QString::number(shown.examinationId) +
           QStringLiteral(" AND id_ins_semester = ") + QString::number(shown.insSemesterId) +
           QStringLiteral(" AND descGroupNum = ") + descGroupNum + QStringLiteral(" AND id_discipline = ") +
           QString::number(shown.disciplineId);
}

QString copyRegistration(const ChosenClass& c, const ShownRegistration& shown) {
    // Without a discipline condition the UPDATE would rewrite every registration of the student
    // in that year, semester and plan number into this discipline. When the frame found no
    // registration, the registration being rewritten is the one of the chosen discipline.
    const QString discipline = shown.disciplineId != 0 ? QString::number(shown.disciplineId) : c.discipline;
    return QStringLiteral("UPDATE DisciplineForStudent SET id_teacher = ") + c.teacher +
           QStringLiteral(", subGroup = ") + c.stream + QStringLiteral(", id_semester = ") + c.insSemesterId +
           QStringLiteral(", id_discipline = ") + c.discipline + QStringLiteral(", id_a_year = ") + c.year +
           QStringLiteral(", id_examination = ") + c.examination + QStringLiteral(", descGroupNum = ") +
           c.descGroupNum + QStringLiteral(", id_ins_year = ") + c.year + QStringLiteral(", kredits = ") + c.credits +
           QStringLiteral(", id_ins_semester = ") + c.insSemesterId + QStringLiteral(" WHERE ") +
           QStringLiteral("  id_student = ") + QString::number(shown.studentId) +
           QStringLiteral(" AND id_ins_year = ") + QString::number(shown.insYearId) +
           QStringLiteral(" AND id_ins_semester = ") + QString::number(shown.insSemesterId) +
           QStringLiteral(" AND descGroupNum = ") + c.descGroupNum + QStringLiteral(" AND id_discipline = ") +
           discipline;
}

}  // namespace statements

TFrame1::TFrame1(TransferFrameHost* host, QWidget* parent) : QFrame(parent), m_host(host) {
    InitPictures();
    setFixedHeight(127);
    buildVisibleRows();
    buildHiddenSelectors();
    setUpAssistiveAccess();

    // The clicks of the buttons and selectors are bound by the main window; the stream
    // selector's key and mouse presses stay with the frame.
    onEvent(DBLookupComboBox11, &LookupComboBox::keyPressed, this,
            [this](QKeyEvent* event) { DBLookupComboBox11KeyDown(event); });
    onEvent(DBLookupComboBox11, &LookupComboBox::mousePressed, this,
            [this](QMouseEvent* event) { DBLookupComboBox11MouseDown(event); });
}

// The copy button, department, teacher, discipline, stream and "Применить", top to bottom.
void TFrame1::buildVisibleRows() {
    BitBtn2 = new QPushButton(this);
    BitBtn2->setGeometry(7, 5, 30, 27);
    BitBtn2->setIcon(QIcon(QStringLiteral(":/chevrons_down.png")));
    BitBtn2->setIconSize(QSize(8, 16));
    BitBtn2->setToolTip(QStringLiteral("Скопировать текущие параметры"));
    BitBtn2->setCursor(Qt::PointingHandCursor);

    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    Label9 = makeLabel(this, QStringLiteral("Кафедра:"), 1, 8, 127, right);
    DBLookupComboBox8 =
        makeSelector(this, DM_MB->DS_Kafedra, QStringLiteral("id_kafedra"), QStringLiteral("kafedra"), 130, 6, 410);
    // The department follows the registration; the operator cannot pick one here.
    DBLookupComboBox8->setReadOnly(true);

    Label10 = makeLabel(this, QStringLiteral("Преподаватель:"), 1, 34, 127, right);
    DBLookupComboBox9 =
        makeSelector(this, DM_MB->DS_Teacher2, QStringLiteral("id_teacher"), QStringLiteral("t_fio"), 131, 34, 409);

    Label3 = makeLabel(this, QStringLiteral("Дисциплина:"), 6, 53, 100);
    Edit3 = new QLineEdit(this);
    Edit3->setGeometry(6, 74, 533, 22);
    Edit3->setReadOnly(true);
    QPalette navy = Edit3->palette();
    navy.setColor(QPalette::Text, kNavy);
    Edit3->setPalette(navy);

    Label1 = makeLabel(this, QStringLiteral("Поток:"), 55, 102, 71);
    QFont underlined = Label1->font();
    underlined.setUnderline(true);
    Label1->setFont(underlined);
    DBLookupComboBox11 =
        makeSelector(this, DM_MB->DS_SubGroup2, QStringLiteral("subgroup"), QStringLiteral("subgroup"), 131, 102, 118);

    BitBtn1 = new QPushButton(QIcon(QStringLiteral(":/ok_mark.png")), QStringLiteral("Применить"), this);
    BitBtn1->setGeometry(425, 100, 112, 24);
    QFont bold = BitBtn1->font();
    bold.setBold(true);
    BitBtn1->setFont(bold);
    BitBtn1->setCursor(Qt::PointingHandCursor);
    BitBtn1->setEnabled(false);
}

// Year and semester of the registration: never shown, but their keys drive the statements.
void TFrame1::buildHiddenSelectors() {
    Label2 = makeLabel(this, QStringLiteral("В уч. году:"), 545, 8, 103);
    DBLookupComboBox111 =
        makeSelector(this, DM_MB->DS_Year2, QStringLiteral("id_a_year"), QStringLiteral("p32"), 651, 6, 123);
    Label4 = makeLabel(this, QStringLiteral("На семестре:"), 545, 35, 103);
    DBLookupComboBox121 = makeSelector(this, DM_MB->DS_Semester2, QStringLiteral("id_semester"),
                                       QStringLiteral("semester"), 652, 34, 121);
    for (QWidget* hidden : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(DBLookupComboBox111),
                            static_cast<QWidget*>(Label4), static_cast<QWidget*>(DBLookupComboBox121)})
        hidden->hide();
}

void TFrame1::LoadStudentRegistration(int studentId, int examinationId, int disciplineId, int insSemesterId,
                                      int insYearId, int descGroupNum, int groupId) {
    Query* info = DM_MB->ADOQ_Exec;
    info->setSql(statements::studentRegistration(studentId, insSemesterId, insYearId, disciplineId, groupId,
                                                 descGroupNum, m_host->chosenClass().credits));
    info->open();

    DBLookupComboBox8->setKeyValue(info->fieldValue(QStringLiteral("id_kafedra")));
    DBLookupComboBox8Click();
    DBLookupComboBox9->setKeyValue(info->fieldValue(QStringLiteral("id_teacher")));

    RegDisciplineId = info->fieldAsInt(QStringLiteral("id_discipline"));
    RegExaminationId = info->fieldAsInt(QStringLiteral("id_examination"));
    StudentId = studentId;
    InsYearId = insYearId;
    ExaminationId = examinationId;
    InsSemesterId = insSemesterId;

    Edit3->setText(info->fieldAsString(QStringLiteral("discipline")));

    DM_MB->ADOQ_Year2->open();
    DBLookupComboBox111->setKeyValue(info->fieldValue(QStringLiteral("id_a_year")));

    Query* semesters = DM_MB->ADOQ_Semester2;
    semesters->close();
    semesters->setParam(QStringLiteral("id_a_year"), info->fieldAsInt(QStringLiteral("id_a_year")));
    semesters->setParam(QStringLiteral("id_group"), m_host->chosenGroupKey());
    semesters->open();
    DBLookupComboBox121->setKeyValue(info->fieldValue(QStringLiteral("id_semester")));

    BitBtn1->setEnabled(false);
    RefreshStreams();
    DBLookupComboBox11->setKeyValue(info->fieldValue(QStringLiteral("subGroup")));
    StreamSelectorStep();
    info->close();
}

void TFrame1::RefreshStreams() {
    Query* streams = DM_MB->ADOQ_SubGroup2;
    streams->close();
    if (!(DBLookupComboBox8->hasKey() && DBLookupComboBox9->hasKey() && DBLookupComboBox111->hasKey() &&
          DBLookupComboBox121->hasKey() && !Edit3->text().isEmpty()))
        return;
    streams->setParam(QStringLiteral("id_a_year"), DBLookupComboBox111->keyValue());
    streams->setParam(QStringLiteral("id_kafedra"), DBLookupComboBox8->keyValue());
    streams->setParam(QStringLiteral("id_teacher"), DBLookupComboBox9->keyValue());
    streams->setParam(QStringLiteral("id_discipline"), RegDisciplineId);
    streams->setParam(QStringLiteral("id_examination"), RegExaminationId);
    streams->setParam(QStringLiteral("id_o_z"), DM_MB->ADOQ_group->fieldValue(QStringLiteral("o_z")));
    streams->setParam(QStringLiteral("id_w_s"), DM_MB->ADOQ_Semester2->fieldValue(QStringLiteral("id_w_s")));
    streams->open();
}

void TFrame1::DBLookupComboBox8Click() {
    DBLookupComboBox9->clearKey();
    if (!DBLookupComboBox8->hasKey()) return;
    DM_MB->ADOQ_Teacher2->setSql(statements::frameTeachers(DBLookupComboBox8->keyText()));
    DM_MB->ADOQ_Teacher2->open();
    RefreshStreams();
}

void TFrame1::DBLookupComboBox9Click() {
    Query* semesters = DM_MB->ADOQ_Semester2;
    semesters->close();
    semesters->setParam(QStringLiteral("id_a_year"), DBLookupComboBox111->keyValue());
    semesters->setParam(QStringLiteral("id_group"), m_host->chosenGroupKey());
    semesters->open();
    // Reopening relocated the held semester; when the list lacks it the first row is current.
    DBLookupComboBox121->setKeyValue(semesters->fieldValue(QStringLiteral("id_semester")));
    RefreshStreams();
    BitBtn1->setEnabled(DBLookupComboBox11->hasKey() && DBLookupComboBox121->hasKey());
}

void TFrame1::DBLookupComboBox11KeyDown(QKeyEvent*) {
    StreamSelectorStep();
}

void TFrame1::DBLookupComboBox11MouseDown(QMouseEvent*) {
    StreamSelectorStep();
}

void TFrame1::StreamSelectorStep() {
    BitBtn1->setEnabled(DBLookupComboBox11->hasKey());
}

void TFrame1::BitBtn1Click() {
    Query* exec = DM_MB->ADOQ_Exec;
    exec->setSql(statements::moveRegistration(DBLookupComboBox9->keyText(), DBLookupComboBox11->keyText(),
                                              DBLookupComboBox111->keyText(), DBLookupComboBox121->keyText(), shown(),
                                              m_host->chosenClass().descGroupNum));
    exec->execute();
}

ShownRegistration TFrame1::shown() const {
    return {StudentId, InsYearId, ExaminationId, InsSemesterId, RegDisciplineId};
}

void TFrame1::BitBtn2Click() {
    const int index = m_host->selectedStudentLine();
    if (m_host->shownStream().isEmpty() || index < 0) return;
    if (m_host->studentLineRegistered(index)) {
        Query* exec = DM_MB->ADOQ_Exec;
        exec->setSql(statements::copyRegistration(m_host->chosenClass(), shown()));
        exec->execute();
    } else {
        // Registered together with the students already ticked, whether or not the register
        // button is enabled at the moment.
        m_host->tickAndRegister(index);
    }
    m_host->ReloadLists();
}

// ---- assistive technology

void TFrame1::setUpAssistiveAccess() {
    const std::pair<QLabel*, QWidget*> captions[] = {
        {Label9, DBLookupComboBox8},  {Label10, DBLookupComboBox9},  {Label3, Edit3},
        {Label1, DBLookupComboBox11}, {Label2, DBLookupComboBox111}, {Label4, DBLookupComboBox121}};
    for (const auto& [caption, control] : captions) caption->setBuddy(control);
    // The copy button shows a picture only; its hint says what it does.
    BitBtn2->setAccessibleName(BitBtn2->toolTip());
}

}  // namespace qtl
