// What a screen reader and the keyboard get of the windows: every interactive control named, the
// tick and the registered state of the student lines, and the whole job done with keys alone,
// sending the server what the mouse sends.
#include "register_helpers.h"
#include "search_helpers.h"

#include "Unit10.h"
#include "Unit4.h"
#include "Unit5.h"
#include "Unit6.h"
#include "util/ClassList.h"

#include <QAccessible>
#include <QPrintPreviewWidget>

#include <QHash>

#include <cmath>
#include <iostream>
#include <tuple>
#include <utility>

namespace {

using namespace qtltest::reg;
namespace demo = devserver::qtl::demo;
using qtltest::lookup::whenModal;

// ---- the tree walk

bool interactive(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::SpinBox:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::PageTab: return true;
    default: return false;
    }
}

struct Walk {
    int controls = 0;
    QStringList unnamed;
};

QString describe(const QAccessibleInterface* node) {
    const QObject* o = node->object();
    return QStringLiteral("%1 \"%2\" (role %3)")
        .arg(o ? QString::fromLatin1(o->metaObject()->className()) : QStringLiteral("?"),
             o ? o->objectName() : QString())
        .arg(int(node->role()));
}

// Every shown node under `node`; the lines and cells of lists and grids are their content, not
// controls of their own.
void walk(QAccessibleInterface* node, Walk& out, int depth = 0) {
    ASSERT_LT(depth, 40) << "the tree does not end";
    if (!node || !node->isValid() || node->state().invisible) return;
    const QAccessible::Role role = node->role();
    if (interactive(role)) {
        ++out.controls;
        if (node->text(QAccessible::Name).trimmed().isEmpty()) out.unnamed << describe(node);
    }
    if (role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree) return;
    for (int i = 0; i < node->childCount(); ++i) walk(node->child(i), out, depth + 1);
}

QString nameOf(QObject* object) {
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(object);
    return node ? node->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

struct Named {
    QObject* control;
    QString name;
};

struct WindowCase {
    const char* window;
    QWidget* root;
    QVector<Named> names;  // names checked exactly
};

// ---- keyboard input, routed as the keyboard's is: to the open drop-down list, else to the
// focused widget of the active window.

void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(static_cast<QWidget*>(nullptr), k, modifiers);
    QApplication::processEvents();
}

void typeKeys(const QString& text) {
    for (const QChar c : text) {
        const QChar upper = c.toUpper();
        const auto code =
            upper.unicode() < 0x80 && upper.isLetterOrNumber() ? Qt::Key(upper.unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, static_cast<QWidget*>(nullptr), code, QString(c), Qt::NoModifier);
    }
    QApplication::processEvents();
}

QWidget* focused() {
    return QApplication::focusWidget();
}

// A window just opened takes the keyboard once it is active and has given the focus to one of
// its widgets.
bool waitForKeyboardIn(QWidget* window) {
    return QTest::qWaitFor([window] { return focused() && focused()->window() == window; }, 20000);
}

// Tab (or Shift+Tab) until the widget has the focus; fails when it is not reached.
void tabTo(QWidget* target, bool backwards = false) {
    for (int i = 0; i < 60 && focused() != target; ++i) key(backwards ? Qt::Key_Backtab : Qt::Key_Tab);
    ASSERT_EQ(focused(), target) << "Tab does not reach " << qPrintable(target->objectName());
}

// Down to the row in the open list of the box, then Enter.
void pickByKeys(qtl::LookupComboBox* box, int row) {
    ASSERT_TRUE(box->isDroppedDown()) << qPrintable(box->objectName()) << " is not open";
    ASSERT_GE(row, 0);
    for (int i = 0; i <= row; ++i) key(Qt::Key_Down);
    ASSERT_EQ(box->view()->currentIndex().row(), row);
    key(Qt::Key_Return);
}

void pickByKeys(qtl::LookupComboBox* box, const QString& text) {
    pickByKeys(box, box->findText(text));
}

class Accessibility : public RegistrationTest {
protected:
    // The window of a sign-in made with keys only: the login typed, Tab to "Вход", Enter.
    void signInByKeys() {
        qtltest::useServer(*server);
        if (!qtl::DM_MB) qtl::DM_MB = new qtl::TDM_MB();
        QString caption;
        {
            qtl::TForm8 login;
            login.show();
            ASSERT_TRUE(waitForKeyboardIn(&login));
            EXPECT_EQ(focused(), login.Login_Edit);
            typeKeys(QStringLiteral("operator"));
            key(Qt::Key_Tab);
            typeKeys(QStringLiteral("operator"));
            key(Qt::Key_Tab);
            EXPECT_EQ(focused(), login.SpeedButton2);
            key(Qt::Key_Return);
            ASSERT_EQ(login.result(), QDialog::Accepted);
            caption = login.MainCaption;
        }
        form = std::make_unique<qtl::TForm1>(caption);
        form->show();
        ASSERT_TRUE(waitForKeyboardIn(form.get()));
    }

    // Teacher B's 6-credit "Базы данных" for ИТ-21, whose first two students hold no
    // registration of it: by mouse or by keys.
    void chainByMouse() {
        openAndPick(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
        pickInList(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
        pickInList(w()->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
        pickInList(w()->DBLookupComboBox9, QStringLiteral("Борисова Е.Н."));
        pickInList(w()->DBLookupComboBox5, QStringLiteral("Осенний"));
        pickRow(w()->DBLookupComboBox6, sixCreditRow());
        pickInList(w()->DBLookupComboBox4, QStringLiteral("Экзамен"));
        pickInList(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    }
    void chainByKeys() {
        tabTo(w()->DBLookupComboBox1);
        key(Qt::Key_Down, Qt::AltModifier);
        pickByKeys(w()->DBLookupComboBox1, QStringLiteral("Факультет информационных технологий"));
        pickByKeys(w()->DBLookupComboBox2, QStringLiteral("2026-2027"));
        pickByKeys(w()->DBLookupComboBox8, QStringLiteral("Кафедра информатики"));
        pickByKeys(w()->DBLookupComboBox9, QStringLiteral("Борисова Е.Н."));
        pickByKeys(w()->DBLookupComboBox5, QStringLiteral("Осенний"));
        pickByKeys(w()->DBLookupComboBox6, sixCreditRow());
        pickByKeys(w()->DBLookupComboBox4, QStringLiteral("Экзамен"));
        pickByKeys(w()->DBLookupComboBox3, QStringLiteral("ИТ-21"));
    }
    static int sixCreditRow() {
        return qtl::DM_MB->ADOQ_SelectDisciplineForStudent->findRow(QStringLiteral("Krdt"), 6);
    }

    QAccessibleInterface* lineNode(int line) const {
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w()->CheckListBox1);
        return list && list->tableInterface() ? list->tableInterface()->cellAt(line, 0) : nullptr;
    }
};

// ---- 1. names

TEST_F(Accessibility, EveryShownInteractiveControlOfEveryWindowHasAName) {
    qtltest::useServer(*server);
    if (!qtl::DM_MB) qtl::DM_MB = new qtl::TDM_MB();
    QVector<Walk> walks;
    QStringList table;
    const auto check = [&](const WindowCase& c) {
        Walk result;
        walk(QAccessible::queryAccessibleInterface(c.root), result);
        EXPECT_GT(result.controls, 0) << c.window;
        EXPECT_TRUE(result.unnamed.isEmpty())
            << c.window << ": " << qPrintable(result.unnamed.join(QStringLiteral("; ")));
        for (const Named& n : c.names) EXPECT_EQ(nameOf(n.control), n.name) << c.window;
        table << QStringLiteral("%1: %2 interactive, %3 unnamed")
                     .arg(QLatin1String(c.window))
                     .arg(result.controls)
                     .arg(result.unnamed.size());
    };

    {
        qtl::TForm8 login;
        login.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&login, 20000));
        check({"login",
               &login,
               {{&login, QStringLiteral("Аутентификация")},
                {login.Login_Edit, QStringLiteral("Пользователь")},
                {login.Password_Edit, QStringLiteral("Пароль")},
                {login.SpeedButton2, QStringLiteral("Вход")},
                {login.SpeedButton1, QStringLiteral("Отмена")},
                {login.SpeedButton3, QStringLiteral("Дополнительно")}}});
        login.SpeedButton3->click();  // the password-change area
        check({"login, change area open",
               &login,
               {{login.Edit1, QStringLiteral("Новый пароль")}, {login.Edit2, QStringLiteral("Подтверждение")}}});
    }

    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    ASSERT_GT(w()->CheckListBox1->count(), 0);
    QAccessibleInterface* mainNode = QAccessible::queryAccessibleInterface(w());
    EXPECT_EQ(mainNode->role(), QAccessible::Window);
    // A selector keeps its caption as its name after the pick; the row it shows is its value.
    QAccessibleInterface* faculty = QAccessible::queryAccessibleInterface(w()->DBLookupComboBox1);
    EXPECT_EQ(faculty->role(), QAccessible::ComboBox);
    EXPECT_EQ(faculty->text(QAccessible::Value), QStringLiteral("Факультет информационных технологий"));
    check({"main",
           w(),
           {{w(), w()->windowTitle()},
            {w()->DBLookupComboBox1, QStringLiteral("Факультет:")},
            {w()->DBLookupComboBox2, QStringLiteral("Учебный год:")},
            {w()->DBLookupComboBox4, QStringLiteral("Форма контроля:")},
            {w()->DBLookupComboBox3, QStringLiteral("Группа:")},
            {w()->DBLookupComboBox11, QStringLiteral("Поток:")},
            {w()->CheckListBox1, QStringLiteral("Студенты")},
            {w()->ListBox1, QStringLiteral("Студенты по потокам:")},
            {w()->SpeedButton1, QStringLiteral("Регистрировать >>")},
            {w()->DBLookupComboBox10, QStringLiteral("Преподователь:")},
            {w()->DBLookupComboBox12, QStringLiteral("Поток:")},
            {w()->Frame11->BitBtn2, QStringLiteral("Скопировать текущие параметры")},
            {w()->Frame11->DBLookupComboBox9, QStringLiteral("Преподаватель:")},
            {w()->Frame11->Edit3, QStringLiteral("Дисциплина:")},
            {w()->Frame11->DBLookupComboBox11, QStringLiteral("Поток:")}}});
    EXPECT_TRUE(w()->windowTitle().startsWith(QStringLiteral("QTL 33  V13 [")));

    qtl::TForm4 search(w());
    search.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&search, 20000));
    qtltest::lookup::typeText(search.RzEdit1, QStringLiteral("Петров П"));
    ASSERT_GT(search.DBGridEh1->rowCountShown(), 0);
    // The student whose registrations are listed next.
    qtl::DM_MB->ADOQ_SGM->setCurrentRow(
        qtl::DM_MB->ADOQ_SGM->findRow(QStringLiteral("id_student"), demo::kStudentFullCredits));
    check({"search",
           &search,
           {{&search, QStringLiteral("Поиск")},
            {search.RzEdit1, QStringLiteral("Поиск студента:")},
            {search.DBGridEh1, QStringLiteral("Найденные студенты")}}});

    {
        qtl::TForm5 registrations(&search);
        registrations.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&registrations, 20000));
        ASSERT_GT(registrations.DBGridEh1->rowCountShown(), 0);
        check({"registrations",
               &registrations,
               {{registrations.DBGridEh1, QStringLiteral("Регистрации студента")},
                {registrations.RzBitBtn2, QStringLiteral("Закрыть")},
                {registrations.RzBitBtn1, QStringLiteral("Удалить регистрацию")}}});
    }

    qtl::TForm6 classList(w()->readClassList(), w());
    classList.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&classList, 20000));
    check({"class list",
           &classList,
           {{classList.BitBtnPrint, QStringLiteral("Печать...")}, {classList.BitBtnClose, QStringLiteral("Закрыть")}}});

    std::cout << "[ names    ] " << qPrintable(table.join(QStringLiteral("\n[ names    ] "))) << std::endl;
}

// The message area reads what it shows, and tells when that changes.
TEST_F(Accessibility, TheLoginMessageAreaReadsItsText) {
    qtltest::useServer(*server);
    if (!qtl::DM_MB) qtl::DM_MB = new qtl::TDM_MB();
    qtl::TForm8 login;
    login.show();
    QAccessibleInterface* area = QAccessible::queryAccessibleInterface(login.RzLabel1);
    ASSERT_TRUE(area);
    EXPECT_EQ(area->role(), QAccessible::StaticText);
    qtltest::typeInto(login.Login_Edit, QStringLiteral("blocked"));
    qtltest::typeInto(login.Password_Edit, QStringLiteral("wrong"));
    login.SpeedButton2->click();
    ASSERT_FALSE(login.RzLabel1->text().isEmpty());
    EXPECT_EQ(area->text(QAccessible::Name), login.RzLabel1->displayText());
    // Two lines: the line break of the label is one a screen reader can read.
    login.SpeedButton3->click();
    qtltest::typeInto(login.Edit1, QStringLiteral("abc"));
    login.SpeedButton2->click();
    EXPECT_EQ(area->text(QAccessible::Name),
              QStringLiteral("Новый пароль подтвержден не верно!!!\nПодтвердите пароль заново."));
}

// ---- 2. the student lines

TEST_F(Accessibility, StudentLinesReadTheirTickAndWhetherTheyAreRegistered) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));  // teacher A's "Программирование"
    ASSERT_EQ(w()->CheckListBox1->count(), demo::kGroupOz0Students);
    // Registered to this discipline by the demo: the first three by "operator", Смирнова by
    // "operator2"; who ticks a line is no matter.
    const QList<int> registered = {demo::kStudentAbdullaev, demo::kStudentBelova, demo::kStudentVolkov,
                                   demo::kStudentSmirnova};
    const int ticked = lineOfStudent(demo::kStudentEliseeva);
    w()->CheckListBox1->setFocus();
    // Space ticks the selected line.
    for (int i = 0; i <= ticked; ++i) pressKey(w()->CheckListBox1, Qt::Key_Down);
    pressKey(w()->CheckListBox1, Qt::Key_Space);
    ASSERT_TRUE(w()->CheckListBox1->isChecked(ticked));

    for (int line = 0; line < w()->CheckListBox1->count(); ++line) {
        const int student = studentItem(line)->id_student;
        QAccessibleInterface* node = lineNode(line);
        ASSERT_TRUE(node) << "line " << line;
        const QModelIndex index = w()->CheckListBox1->model()->index(line, 0);
        EXPECT_EQ(node->text(QAccessible::Name), w()->CheckListBox1->lineText(line));
        EXPECT_EQ(node->text(QAccessible::Description),
                  registered.contains(student) ? QStringLiteral("зарегистрирован") : QString())
            << "student " << student;
        EXPECT_EQ(node->state().checked, line == ticked) << "line " << line;
        EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), line == ticked ? Qt::Checked : Qt::Unchecked);
        EXPECT_TRUE(index.flags() & Qt::ItemIsUserCheckable);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
        EXPECT_TRUE(node->state().checkable);
#endif
    }
    // The mouse still ticks once per click (the view does not tick the line a second time).
    const int other = lineOfStudent(demo::kStudentZhdanov);
    tick(demo::kStudentZhdanov);
    EXPECT_TRUE(lineNode(other)->state().checked);
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 20);
    const QRect box = w()->CheckListBox1->visualItemRect(w()->CheckListBox1->item(other));
    QTest::mouseClick(w()->CheckListBox1->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(box.left() + 6, box.center().y()));
    EXPECT_FALSE(w()->CheckListBox1->isChecked(other));
    EXPECT_FALSE(lineNode(other)->state().checked);
}

// ---- 3. the keyboard

TEST_F(Accessibility, LoginButtonsAreReachedByTabAndPressedByEnterHiddenFieldsAreNot) {
    qtltest::useServer(*server);
    if (!qtl::DM_MB) qtl::DM_MB = new qtl::TDM_MB();
    qtl::TForm8 login;
    login.show();
    ASSERT_TRUE(waitForKeyboardIn(&login));
    struct Case {
        bool areaOpen;
        QVector<QWidget*> order;
    };
    const Case cases[] = {
        {false, {login.Login_Edit, login.Password_Edit, login.SpeedButton2, login.SpeedButton1, login.SpeedButton3}},
        {true,
         {login.Login_Edit, login.Password_Edit, login.Edit1, login.Edit2, login.SpeedButton2, login.SpeedButton1,
          login.SpeedButton3}},
    };
    for (const Case& c : cases) {
        if (login.ChangePasswordMode != c.areaOpen) {
            tabTo(login.SpeedButton3);
            key(Qt::Key_Return);  // Enter on "Дополнительно" opens or closes the area
            ASSERT_EQ(login.ChangePasswordMode, c.areaOpen);
        }
        tabTo(login.Login_Edit);
        for (int i = 1; i <= c.order.size(); ++i) {
            key(Qt::Key_Tab);
            EXPECT_EQ(focused(), c.order[i % c.order.size()]) << "area open " << c.areaOpen << ", Tab " << i;
        }
        EXPECT_EQ(login.Edit1->isVisible(), c.areaOpen);
    }
    // Nothing was typed into a field out of sight, and nothing was sent.
    EXPECT_TRUE(login.Edit1->text().isEmpty());
    EXPECT_EQ(login.LoginPressCount, 0);
    // Escape does not end the login; Enter on "Отмена" does, as its click.
    key(Qt::Key_Escape);
    EXPECT_TRUE(login.isVisible());
    tabTo(login.SpeedButton1);
    key(Qt::Key_Return);
    EXPECT_FALSE(login.isVisible());
    EXPECT_EQ(login.result(), QDialog::Rejected);
}

// The whole job by mouse and by keys alone: sign in, the chain, two students ticked and
// registered, one of them found, his new registration removed, the windows closed. The server
// gets the same statements either way.
TEST_F(Accessibility, KeysAloneDoTheJobWithTheStatementsOfTheMouse) {
    QStringList logs[2];
    QStringList shown[2];
    for (const bool byKeys : {false, true}) {
        SCOPED_TRACE(byKeys ? "keys" : "mouse");
        if (byKeys) {
            // A fresh server and data module, as for the mouse run.
            form.reset();
            delete qtl::DM_MB;
            qtl::DM_MB = nullptr;
            qtl::g_signIn = qtl::SignIn{};
            server = std::make_unique<qtltest::DevServer>(options);
            server->start();
            boxes.clear();
            signInByKeys();
            chainByKeys();
        } else {
            signIn();
            chainByMouse();
        }
        if (HasFatalFailure()) return;
        ASSERT_EQ(lineOfStudent(demo::kStudentAbdullaev), 0);
        ASSERT_EQ(lineOfStudent(demo::kStudentBelova), 1);
        ASSERT_FALSE(studentItem(0)->IsSelected);
        ASSERT_FALSE(studentItem(1)->IsSelected);
        const auto registrationsOf = [this](int student) {
            return count(QStringLiteral("DisciplineForStudent"), "id_student = " + num(student));
        };
        const int before = registrationsOf(demo::kStudentAbdullaev);

        if (byKeys) {
            tabTo(w()->CheckListBox1);
            for (int line = 0; line < 2; ++line) {
                key(Qt::Key_Down);
                key(Qt::Key_Space);
            }
            ASSERT_TRUE(w()->CheckListBox1->isChecked(0));
            ASSERT_TRUE(w()->CheckListBox1->isChecked(1));
            tabTo(w()->SpeedButton1);
            key(Qt::Key_Return);
        } else {
            tick(demo::kStudentAbdullaev);
            tick(demo::kStudentBelova);
            clickRegister();
        }
        ASSERT_GT(registrationId(demo::kStudentAbdullaev, demo::kDisciplineTwoCredits), 0);
        ASSERT_GT(registrationId(demo::kStudentBelova, demo::kDisciplineTwoCredits), 0);
        ASSERT_EQ(registrationsOf(demo::kStudentAbdullaev), before + 1);

        bool searched = false, listed = false;
        const auto removeInRegistrations = [&](qtl::TForm5* regs) {
            listed = true;
            ASSERT_GT(regs->DBGridEh1->rowCountShown(), 0);
            if (byKeys) {
                ASSERT_TRUE(waitForKeyboardIn(regs));
                tabTo(regs->DBGridEh1);
                key(Qt::Key_Tab);
                EXPECT_EQ(focused(), regs->RzBitBtn2);  // Tab leaves the grid
                key(Qt::Key_Tab);
                ASSERT_EQ(focused(), regs->RzBitBtn1);
                key(Qt::Key_Return);  // "Удалить регистрацию"; the recorder answers OK
                tabTo(regs->RzBitBtn2, true);
                key(Qt::Key_Return);  // "Закрыть"
                EXPECT_FALSE(regs->isVisible());
            } else {
                QTest::mouseClick(regs->RzBitBtn1, Qt::LeftButton);
                QTest::mouseClick(regs->RzBitBtn2, Qt::LeftButton);
            }
        };
        whenModal<qtl::TForm4>([&](qtl::TForm4* search) {
            searched = true;
            if (byKeys) {
                ASSERT_TRUE(waitForKeyboardIn(search));
                tabTo(search->RzEdit1);
                typeKeys(QStringLiteral("Абдуллаев"));
                ASSERT_EQ(search->DBGridEh1->rowCountShown(), 1);
                tabTo(search->DBGridEh1);
                whenModal<qtl::TForm5>(removeInRegistrations);
                key(Qt::Key_Return);  // opens the registrations window as the double click does
            } else {
                qtltest::lookup::typeText(search->RzEdit1, QStringLiteral("Абдуллаев"));
                ASSERT_EQ(search->DBGridEh1->rowCountShown(), 1);
                whenModal<qtl::TForm5>(removeInRegistrations);
                qtltest::lookup::doubleClickRow(search->DBGridEh1, 0);
            }
            // The search window has no button: the platform closes it (whenModal).
        });
        if (byKeys) {
            tabTo(w()->RzBitBtn1);
            key(Qt::Key_Return);
        } else {
            QTest::mouseClick(w()->RzBitBtn1, Qt::LeftButton);
        }
        EXPECT_TRUE(searched);
        EXPECT_TRUE(listed);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

        // Registered twice, one removed: the new one and the one listed first.
        EXPECT_EQ(registrationsOf(demo::kStudentAbdullaev), before + 1 - 1);
        EXPECT_GT(registrationId(demo::kStudentBelova, demo::kDisciplineTwoCredits), 0);
        logs[byKeys] = server->batchesSince(0);
        shown[byKeys] = boxes.texts();
    }
    EXPECT_EQ(startingWith(logs[1], QStringLiteral("INSERT INTO DisciplineForStudent")).size(), 2);
    EXPECT_EQ(shown[1],
              QStringList({QStringLiteral("Вы действительно хотите удалить строку "), QStringLiteral("Удалено ")}));
    EXPECT_EQ(shown[1], shown[0]);
    ASSERT_EQ(logs[1].size(), logs[0].size());
    for (int i = 0; i < logs[0].size(); ++i) EXPECT_EQ(logs[1][i], logs[0][i]) << "statement " << i;
    std::cout << "[ keys     ] " << logs[0].size() << " statements by mouse, " << logs[1].size() << " by keys"
              << std::endl;
}

// ---- 4. the focus seen

// Relative luminance and contrast ratio as WCAG 2.1 defines them.
double luminance(const QColor& c) {
    const auto channel = [](int v) {
        const double x = v / 255.0;
        return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The pixels of a rectangle's edge that the focus changed: the colour most of them take, and
// the colour most of them had.
struct Mark {
    QColor indicator, under;
    int pixels = 0;
};

Mark markOnEdge(const QImage& without, const QImage& with, const QRect& edge) {
    QHash<QRgb, int> now, before;
    Mark m;
    for (int x = edge.left(); x <= edge.right(); ++x)
        for (int y = edge.top(); y <= edge.bottom(); ++y) {
            const bool onEdge = x == edge.left() || x == edge.right() || y == edge.top() || y == edge.bottom();
            if (!onEdge || without.pixel(x, y) == with.pixel(x, y)) continue;
            ++now[with.pixel(x, y)];
            ++before[without.pixel(x, y)];
            ++m.pixels;
        }
    const auto mostOf = [](const QHash<QRgb, int>& counts) {
        QRgb best = 0;
        int n = -1;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > n) std::tie(best, n) = std::make_pair(it.key(), it.value());
        return QColor(best);
    };
    m.indicator = mostOf(now);
    m.under = mostOf(before);
    return m;
}

TEST_F(Accessibility, TheFocusedStreamLineAndTheSelectAllBoxAreFramedAtThreeToOneOrMore) {
    signIn();
    chainTo(QStringLiteral("ИТ-21"));
    ASSERT_GT(w()->ListBox1->count(), 0);
    ASSERT_TRUE(w()->CheckBox1->isEnabled());
    auto* streams = w()->ListBox1;
    struct Case {
        const char* what;
        QWidget* focus;
        QWidget* shot;
        std::function<QRect()> prepare;  // sets the scene, returns the framed rectangle in `shot`
    };
    const Case cases[] = {
        {"streams list, focused line", streams, streams->viewport(),
         [streams] {
             streams->clearSelection();
             streams->setCurrentRow(0, QItemSelectionModel::NoUpdate);
             return streams->visualItemRect(streams->item(0));
         }},
        {"streams list, focused selected line", streams, streams->viewport(),
         [streams] {
             streams->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
             return streams->visualItemRect(streams->item(0));
         }},
        {"select-all box \"Студенты\"", w()->CheckBox1, w()->CheckBox1, [this] { return w()->CheckBox1->rect(); }},
    };
    for (const Case& c : cases) {
        const QRect edge = c.prepare();
        w()->DBLookupComboBox1->setFocus();
        QApplication::processEvents();
        const QImage without = c.shot->grab().toImage();
        c.focus->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        ASSERT_TRUE(c.focus->hasFocus()) << c.what;
        const QImage with = c.shot->grab().toImage();
        const Mark m = markOnEdge(without, with, edge);
        // A dotted frame round the rectangle, not a speck: at least a quarter of its edge.
        EXPECT_GT(m.pixels, (edge.width() + edge.height()) / 2) << c.what;
        const double ratio = contrast(m.indicator, m.under);
        EXPECT_GE(ratio, 3.0) << c.what << ": " << qPrintable(m.indicator.name()) << " on "
                              << qPrintable(m.under.name());
        std::cout << "[ focus    ] " << c.what << ": " << qPrintable(m.indicator.name()) << " on "
                  << qPrintable(m.under.name()) << ", " << m.pixels << " px, contrast " << ratio << ":1" << std::endl;
    }
    // The frame lets the mouse through to the box.
    QTest::mouseClick(w()->CheckBox1, Qt::LeftButton);
    EXPECT_TRUE(w()->CheckBox1->isChecked());
}

}  // namespace
