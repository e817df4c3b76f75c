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

TFrame1::TFrame1(TransferFrameHost* host, QWidget* parent) : QFrame(parent), m_host(host) {
    InitPictures();
    setFixedHeight(127);
    buildVisibleRows();
    buildHiddenSelectors();
    setUpAssistiveAccess();

    // Errors of the frame's handlers are shown over the window it is embedded in, and its
    // handlers go when that window goes.
    QWidget* window = parent;
    onEvent(BitBtn1, &QPushButton::clicked, window, [this] { ApplyClick(); });
    onEvent(BitBtn2, &QPushButton::clicked, window, [this] { BitBtn2Click(); });
    onEvent(DBLookupComboBox8, &LookupComboBox::clicked, window, [this] { DBLookupComboBox8Click(); });
    // The year and semester selectors are hidden; a click on either runs the teacher step.
    for (LookupComboBox* box : {DBLookupComboBox9, DBLookupComboBox111, DBLookupComboBox121})
        onEvent(box, &LookupComboBox::clicked, window, [this] { DBLookupComboBox9Click(); });
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

void TFrame1::clear() {
    DBLookupComboBox8->clearKey();
    DBLookupComboBox9->clearKey();
    Edit3->clear();
    DBLookupComboBox11->clearKey();
    BitBtn1->setEnabled(false);
}

void TFrame1::LoadStudentRegistration(int studentId, int examinationId, int disciplineId, int insSemesterId,
                                      int insYearId, int descGroupNum, int groupId) {
    Query* info = DM_MB->ADOQ_Exec;
    info->setSql(statements::studentRegistration(studentId, insSemesterId, insYearId, disciplineId, groupId,
                                                 descGroupNum, m_host->chosenClass().credits));
    info->open();
    {
        // The registration is read while the steps below run; none of them may reuse the query.
        const Query::Hold reading(info);

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
    }
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
    streams->setParam(QStringLiteral("id_o_z"), m_host->chosenClass().held.formOfStudy);
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

void TFrame1::ApplyClick() {
    if (!m_host->RegistrationDeadlineCheck()) return;
    BitBtn1Click();
    m_host->ReloadLists();
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
        const ChosenClass chosen = m_host->chosenClass();
        Q_ASSERT(chosen.isComplete());
        Query* exec = DM_MB->ADOQ_Exec;
        exec->setSql(statements::copyRegistration(chosen, shown()));
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
