// The main window: sizing, the rights check on first show, the selection chain, the student check
// list, the streams list with its stream editor and the stream chooser, registering and removing.
// Its layout is in main_u_layout.cpp, its class list in main_u_classlist.cpp.
#include "main_u.h"

#include "Unit2.h"
#include "Unit4.h"
#include "dm_u.h"
#include "platform/Accessibility.h"
#include "platform/ApplicationTitle.h"
#include "platform/Guard.h"
#include "platform/Look.h"
#include "platform/MessageBoxes.h"
#include "util/errors.h"
#include "util/util.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

namespace qtl {

TForm1* Form1 = nullptr;
std::function<QDate()> TForm1::Today = [] { return QDate::currentDate(); };

namespace {

const QChar kDoubleQuote = QLatin1Char('"');

// A value of the current row, or null when the query holds no row (closed or empty).
QVariant currentValue(const Query* q, const QString& column) {
    if (!q->isOpen() || q->isEmpty()) return {};
    return q->fieldValue(column);
}

}  // namespace

TForm1::TForm1(const QString& caption, QWidget* parent) : QWidget(parent) {
#ifndef Q_OS_WIN
    // The login's substitutions may not be registered yet when a test builds the window alone.
    // Windows has the fonts themselves.
    QFont::insertSubstitution(QStringLiteral("Palatino Linotype"), QStringLiteral("P052"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
#endif
    Form1 = this;
    buildLayout();
    setWindowTitle(caption);
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
}

// ------------------------------------------------------------------------------------------
// Shell

void TForm1::FormCreate() {
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
    c.disciplineNumber = discipline->fieldAsInt(QStringLiteral("id_discipline"));
    c.formOfStudy = DM_MB->ADOQ_group->fieldAsInt(QStringLiteral("o_z"));
    c.termKind3 = DM_MB->ADOQ_Semester->fieldAsInt(QStringLiteral("id_w_s")) == 3;
    c.held.year = DBLookupComboBox2->keyValue();
    c.held.department = DBLookupComboBox8->keyValue();
    c.held.teacher = DBLookupComboBox9->keyValue();
    c.held.discipline = currentValue(discipline, QStringLiteral("id_discipline"));
    c.held.examination = DBLookupComboBox4->keyValue();
    c.held.credits = currentValue(discipline, QStringLiteral("Krdt"));
    c.held.termKindRow = currentValue(DM_MB->ADOQ_Semester, QStringLiteral("id_w_s"));
    c.held.formOfStudy = currentValue(DM_MB->ADOQ_group, QStringLiteral("o_z"));
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
    Frame11->clear();
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
    Frame11->clear();
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
        q->setSql(statements::groups(c, c.termKind3));
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
    Frame11->clear();

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
    e->setSql(statements::formOfStudy(c.groupNumber()));
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
    c.descGroupNum = SelectedDescGroupNum;
    const bool byPlan = c.descGroupNumber() != -1;
    SelectedIsByPlan = byPlan ? QStringLiteral("1") : QStringLiteral("0");
    c.isByPlan = SelectedIsByPlan;

    // A discipline not taken by plan lists the students without a plan number, as kind of term 3 does.
    q->setSql(statements::students(c, c.termKind3 || !byPlan, g_signIn.CurrentUserId));
    q->open();
    {
        const Query::Hold reading(q);  // adding a line runs no other code on the query
        for (; !q->eof(); q->next()) {
            auto item = std::make_unique<StudentItem>();
            item->id_student = q->fieldAsInt(QStringLiteral("id_student"));
            item->IsSelected = q->fieldAsBool(QStringLiteral("IsSelected"));
            item->IsTeacher = q->fieldAsBool(QStringLiteral("IsTeacher"));
            CheckListBox1->addLine(q->fieldAsString(QStringLiteral("s_fio")), std::move(item));
        }
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
    // In this order, so an empty key is reported as it always was. The discipline is the row's
    // number: a closed or empty list gives 0, not an error.
    const int examinationId = c.examinationNumber();
    const int insSemesterId = c.insSemesterNumber();
    const int insYearId = c.yearNumber();
    const int descGroupNum = c.descGroupNumber();
    const int groupId = c.groupNumber();
    Frame11->LoadStudentRegistration(studentId, examinationId, c.disciplineNumber, insSemesterId, insYearId,
                                     descGroupNum, groupId);
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
    const ChosenClass::Held held = chosenClass().held;

    // Both stream queries take the class's keys; the first narrows by credits, the second by the
    // form of study.
    const auto reopen = [&held](Query* q, const QString& narrowedBy, const QVariant& value) {
        q->close();
        q->setParam(QStringLiteral("id_a_year"), held.year);
        q->setParam(QStringLiteral("id_kafedra"), held.department);
        q->setParam(QStringLiteral("id_teacher"), held.teacher);
        q->setParam(QStringLiteral("id_discipline"), held.discipline);
        q->setParam(QStringLiteral("id_examination"), held.examination);
        q->setParam(narrowedBy, value);
        q->setParam(QStringLiteral("id_w_s"), held.termKindRow);
        q->open();
    };
    Query* s = DM_MB->ADOQ_SubGroup;
    reopen(s, QStringLiteral("kredit"), held.credits);
    Query* s3 = DM_MB->ADOQ_SubGroup3;
    reopen(s3, QStringLiteral("id_o_z"), held.formOfStudy);

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

// ------------------------------------------------------------------------------------------
// Writing registrations: the registration deadline, registering the ticked students and removing
// the selected registrations with their audit rows

bool TForm1::RegistrationDeadlineCheck() {
    const ChosenClass c = chosenClass();
    Query* q = DM_MB->ADOQ_DATE_reg_DFS;
    q->close();
    q->setSql(statements::registrationDeadline(c.yearNumber(), c.termKindNumber(), c.groupNumber()));
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

void TForm1::reselectStudentLine(int index) {
    CheckListBox1->setItemIndex(index);
    CheckListBox1Click();
}

// The click of "Регистрировать >>"; the Insert key in the check list and the transfer frame's
// copy button (for a student not registered yet) run it too.
void TForm1::SpeedButton1Click() {
    if (!RegistrationDeadlineCheck()) return;
    const ChosenClass chosen = chosenClass();
    Q_ASSERT(chosen.isComplete() && !chosen.stream.isEmpty());
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
        outcome.credits = checkCredits(held, chosen.credits, chosen.formOfStudy, g_signIn.CreditLimitForOz0,
                                       g_signIn.CreditLimitForOz1);
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

    const ChosenClass chosen = chosenClass();
    Q_ASSERT(chosen.isComplete());
    const QVector<RemovalOutcome> outcomes = removeSelectedRegistrations(chosen);
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
