// The main window: selection chain, student check list, streams list and stream editor,
// registering and removing, with the transfer frame along the bottom.
#pragma once

#include "Unit2.h"
#include "dm_u.h"
#include "statements/Statements.h"
#include "platform/ItemLists.h"
#include "platform/LookupComboBox.h"
#include "rules/RegistrationRules.h"

#include <QCheckBox>
#include <QDate>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <exception>
#include <functional>
#include <initializer_list>

namespace qtl {

struct ClassList;

// Record of a line of the student check list.
struct StudentItem : ItemRecord {
    int id_student = 0;
    bool IsSelected = false;
    bool IsTeacher = false;
};

// Record of a line of the streams list.
struct StreamItem : ItemRecord {
    int id_disciplineForStudent = 0;
    int id_faculty = 0;
    int id_student = 0;
};

class TForm1 : public QWidget, public TransferFrameHost {
    Q_OBJECT
public:
    // Built once the operator has signed in, with the caption the login composed.
    explicit TForm1(const QString& caption, QWidget* parent = nullptr);
    ~TForm1() override;

    // Today's local date; tests replace it to move "today".
    static std::function<QDate()> Today;

    // ---- selection area
    QFrame* Panel5;
    QFrame* ToolBar1;
    QPushButton* RzBitBtn1;  // "Удалить регистрацию"
    QPushButton* RzBitBtn2;  // "Список потоков" (Ctrl+P, Ctrl+S)
    QLabel *Label1, *Label2, *Label9, *Label10, *Label5, *Label6, *Label3, *Label4;
    LookupComboBox* DBLookupComboBox1;  // faculty
    LookupComboBox* DBLookupComboBox2;  // academic year
    LookupComboBox* DBLookupComboBox8;  // department
    LookupComboBox* DBLookupComboBox9;  // teacher
    LookupComboBox* DBLookupComboBox5;  // kind of term
    LookupComboBox* DBLookupComboBox6;  // discipline
    LookupComboBox* DBLookupComboBox4;  // form of control
    LookupComboBox* DBLookupComboBox3;  // group
    QLabel* Label12;
    QFrame* Panel3;
    QCheckBox* CheckBox2;  // hidden
    LookupComboBox* DBLookupComboBox7;  // hidden
    QFrame* Bevel6;

    // ---- work area
    QFrame* Panel1;
    QFrame* GroupBox1;
    QCheckBox* CheckBox1;  // "Студенты:" (select all)
    CheckListBox* CheckListBox1;
    QFrame* Panel2;
    QLabel* Label11;  // "Поток:"
    LookupComboBox* DBLookupComboBox11;  // stream chooser
    QPushButton* SpeedButton1;  // "Регистрировать >>"
    QPushButton* SpeedButton2;  // "<< Убрать регистр."
    QGroupBox* GroupBox2;  // "Студенты по потокам:"
    ListBox* ListBox1;
    QFrame* Panel4;  // stream editor
    QFrame* Panel6;
    QLabel* Label8;  // "Преподователь:"
    QFrame* Panel7;
    QPushButton* SpeedButton3;  // "x"
    LookupComboBox* DBLookupComboBox10;  // editor teacher
    QLabel* Label7;  // "Поток:"
    LookupComboBox* DBLookupComboBox12;  // editor stream
    QPushButton* BitBtn1;  // "Изменить"

    // ---- transfer frame
    TFrame1* Frame11;

    // ---- main-window state
    QString SelectedInsSemesterId;
    QString SelectedDescGroupNum;
    QString SelectedIsByPlan;

    // The chosen class as the selectors, the chosen rows and the window's state hold it now.
    ChosenClass chosenClass() const override;

    // ---- shell
    void FormCreate();
    void FormResize();
    void FormPaint();
    void FormShow();

    // ---- selection chain
    void DBLookupComboBox1Click();
    void DBLookupComboBox2Click();
    void DBLookupComboBox8Click();
    void DBLookupComboBox9Click();
    void DBLookupComboBox5Click();
    void DBLookupComboBox6Click();
    void DBLookupComboBox4Click();
    void DBLookupComboBox3Click();
    void CheckBox2Click();
    void DBLookupComboBox7Click();
    void ClearItemList(QListWidget* list);
    void ClearBothLists();

    // ---- student check list
    void LoadStudentList();
    void CheckListBox1DrawItem(QPainter* painter, const QRect& rect, int index, bool selected);
    void CheckListBox1ClickCheck();
    void CheckListBox1Click();
    void CheckListBox1KeyDown(QKeyEvent* event);
    void CheckListBox1DblClick();
    void CheckBox1Click();

    // ---- registering and removing
    bool RegistrationDeadlineCheck() override;
    void SpeedButton1Click();
    void SpeedButton2Click();

    // ---- streams list and stream editor
    void LoadStreamsList();
    // The term condition the streams list selects by: the kind of term once one has been
    // picked, before that the registering semester of the group.
    QString streamsTermCondition(const ChosenClass& chosen) const;
    void ReloadLists() override;
    void LoadStreamChoices();
    void ComboBox1111Change();
    void ListBox1KeyDown(QKeyEvent* event);
    void ListBox1MouseDown(Qt::MouseButton button, QPoint pos);
    void ComboBox2Change(LookupComboBox* sender);
    void DBLookupComboBox12KeyDown(QKeyEvent* event);
    void DBLookupComboBox10KeyDown(QKeyEvent* event);
    void BitBtn1Click();
    void SpeedButton3Click();

    // ---- toolbar
    void RzBitBtn1Click();
    // The class list window over the streams list as it is loaded; Ctrl+S opens it offering
    // the PDF first.
    void RzBitBtn2Click(bool savePdfFirst = false);
    // The rows of the class list, read with one statement, and the header from the selectors.
    ClassList readClassList();

    // ---- what the transfer frame asks of the window
    QVariant chosenGroupKey() const override;
    QString shownStream() const override;
    int selectedStudentLine() const override;
    bool studentLineRegistered(int line) const override;
    void tickAndRegister(int line) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool m_shownOnce = false;
    bool m_editorFillsGroup = false;  // the stream editor, once opened, stays docked to GroupBox2
    void buildLayout();
    void buildClassListButton();
    void connectHandlers();
    void layoutRegions();
    void layoutWorkArea();
    void layoutGroupBoxes();
    void layoutEditor();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void openingOfStep();
    // Registering: the stream's lesson kind and faculty, looked up once per click, then each
    // ticked student in turn; `met` hears every outcome when the loop meets it. A failure ends
    // the loop and is the last outcome.
    struct StreamFacts {
        QString lessonKind;
        QString faculty;
    };
    StreamFacts lookUpStream(const ChosenClass& chosen);
    QVector<RegistrationOutcome> registerTickedStudents(const ChosenClass& chosen, const StreamFacts& stream,
                                                        const std::function<void(const RegistrationOutcome&)>& met);
    RegistrationOutcome registerStudent(int line, const ChosenClass& chosen, const StreamFacts& stream);
    // Removing: each selected line of the streams list, from the last to the first. A failure
    // ends the loop and is the last outcome.
    bool confirmRemoval();
    QVector<RemovalOutcome> removeSelectedRegistrations(const ChosenClass& chosen);
    // Selects the student line again after a reload and loads it into the transfer frame.
    void reselectStudentLine(int index);
    void resetBelow(std::initializer_list<LookupComboBox*> boxes);
    // The steps of buildLayout, in the order the children are created.
    void buildToolBar();
    void buildSelectors();
    void buildStudentsGroup();
    void buildRegisterPanel();
    void buildStreamsGroup();
    void bindSelectors();
    QColor studentLineColour(int index, bool selected) const;
    // Names and roles for assistive technology, and Enter on the buttons.
    void setUpAssistiveAccess();
};

extern TForm1* Form1;  // the main window while it exists

}  // namespace qtl
