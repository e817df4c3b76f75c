// The main window's layout: its children, built top to bottom in the order the keyboard visits
// them, the toolbar's class list button, and the docking that keeps them in place on a resize.
#include "main_u.h"

#include "platform/Guard.h"
#include "platform/Look.h"

#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <utility>

namespace qtl {

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

}  // namespace

void TForm1::buildLayout() {
    InitPictures();  // the button glyphs live in the program's static library
    setObjectName(QStringLiteral("Form1"));
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

}  // namespace qtl
