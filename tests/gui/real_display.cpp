// What only a real X server can tell: the titles the window system shows for each window (read
// back from the server with xprop), and input that comes from the server itself (the wheel
// under the mouse pointer, Tab and Down from the keyboard, sent with xdotool). The tests skip
// themselves on any other platform; scripts/test.sh runs them under Xvfb with
// QT_QPA_PLATFORM=xcb.
#include "chain_helpers.h"
#include "frame_helpers.h"
#include "search_helpers.h"

#include "Unit10.h"
#include "Unit4.h"
#include "Unit5.h"
#include "platform/ApplicationTitle.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>

#include <functional>

using namespace qtltest::chain;

namespace {

// Runs an X client tool to its end; its standard output, or a note of what went wrong.
QString runTool(const QString& program, const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));  // titles come as UTF-8
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2 %3>")
            .arg(program, process.errorString(), QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The window's _NET_WM_NAME as the X server holds it.
QString readTitle(QWidget* window) {
    const QString out = runTool(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                                          QStringLiteral("-notype"), QStringLiteral("_NET_WM_NAME")})
                            .trimmed();
    // _NET_WM_NAME = "Поиск"
    const int open = out.indexOf(QLatin1Char('"'));
    const int close = out.lastIndexOf(QLatin1Char('"'));
    if (open < 0 || close <= open) return out;
    return out.mid(open + 1, close - open - 1);
}

// How long to wait for what a loaded machine may be slow to show; reached only on a failure.
constexpr int kPatienceMs = 20000;

// The title once the server has it: Qt writes the property as the window is mapped.
QString nativeTitle(QWidget* window, const QString& expected) {
    QElapsedTimer clock;
    clock.start();
    QString title;
    do {
        QApplication::processEvents();
        title = readTitle(window);
        if (title == expected) break;
        QTest::qWait(50);
    } while (clock.elapsed() < kPatienceMs);
    return title;
}

// Sends input through the X server and lets the events come in: until `arrived` holds when
// they should change something, else for a moment (input that must change nothing has no
// event to wait for).
void xdotool(const QStringList& args, const std::function<bool()>& arrived = {}) {
    const QString out = runTool(QStringLiteral("xdotool"), args);
    EXPECT_FALSE(out.startsWith(QLatin1Char('<'))) << qPrintable(out);
    if (arrived)
        static_cast<void>(QTest::qWaitFor(arrived, kPatienceMs));  // the caller's assertion reports it
    else
        QTest::qWait(150);
}

class RealDisplay : public MainWindowTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs an X server (QT_QPA_PLATFORM=xcb)";
        // As the program starts: the application has its title before any window exists.
        qtl::setApplicationTitle(QStringLiteral("QTL 33 Регистратор студентов"));
        MainWindowTest::SetUp();
    }
    void activate(QWidget* window) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window, kPatienceMs));
    }
    // The nearest widget before (or after) `widget` that Tab stops at.
    static QWidget* tabNeighbour(QWidget* widget, bool before) {
        QWidget* w = widget;
        do {
            w = before ? w->previousInFocusChain() : w->nextInFocusChain();
        } while (w != widget && !(w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)));
        return w;
    }
};

TEST_F(RealDisplay, EveryWindowShowsExactlyItsOwnCaption) {
    // The login window, on its own and again after a sign-in has set the application's title.
    {
        qtl::TForm8 login;
        login.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&login, kPatienceMs));
        EXPECT_EQ(nativeTitle(&login, QStringLiteral("Аутентификация")), QStringLiteral("Аутентификация"));
    }
    signIn();
    const QString caption = w()->windowTitle();
    ASSERT_TRUE(caption.startsWith(QStringLiteral("QTL 33  V13 [ ")));
    EXPECT_EQ(nativeTitle(w(), caption), caption);
    EXPECT_EQ(qtl::applicationTitle(), caption);
    {
        qtl::TForm8 login;
        login.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&login, kPatienceMs));
        EXPECT_EQ(nativeTitle(&login, QStringLiteral("Аутентификация")), QStringLiteral("Аутентификация"));
    }

    qtl::TForm4 search(w());
    search.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&search, kPatienceMs));
    EXPECT_EQ(nativeTitle(&search, QStringLiteral("Поиск")), QStringLiteral("Поиск"));
    qtltest::lookup::typeText(search.RzEdit1, QStringLiteral("Петров П"));
    ASSERT_GT(search.DBGridEh1->rowCountShown(), 0);

    qtl::TForm5 regs(&search);
    regs.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&regs, kPatienceMs));
    const QString regsCaption = QStringLiteral("Окно регистрации студента");
    EXPECT_EQ(nativeTitle(&regs, regsCaption), regsCaption);

    // The confirmation of "Удалить регистрацию", a real box, answered "Отмена".
    QString confirmTitle;
    qtl::MessageBoxes::install(nullptr);
    qtltest::lookup::whenModal<QMessageBox>([&](QMessageBox* box) {
        confirmTitle = nativeTitle(box, QStringLiteral("Внимание!!!"));
        box->button(QMessageBox::Cancel)->click();
    });
    const int m = mark();
    QTest::mouseClick(regs.RzBitBtn1, Qt::LeftButton);
    qtl::MessageBoxes::install(&boxes);
    EXPECT_EQ(confirmTitle, QStringLiteral("Внимание!!!"));
    EXPECT_EQ(since(m), QStringList());
    regs.close();
    search.close();

    // The refused tick of a registered student, a real box.
    qtltest::frame::chooseClass(w());
    const int line = qtltest::frame::lineOf(w(), demo::kStudentAbdullaev);
    qtltest::frame::clickLine(w(), line);
    QString noticeTitle;
    qtl::MessageBoxes::install(nullptr);
    qtltest::lookup::whenModal<QMessageBox>([&](QMessageBox* box) {
        noticeTitle = nativeTitle(box, QStringLiteral("Уведомление"));
        box->button(QMessageBox::Ok)->click();
    });
    const QRect r = w()->CheckListBox1->visualItemRect(w()->CheckListBox1->item(line));
    QTest::mouseClick(w()->CheckListBox1->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(r.left() + 6, r.center().y()));
    qtl::MessageBoxes::install(&boxes);
    EXPECT_EQ(noticeTitle, QStringLiteral("Уведомление"));
    EXPECT_FALSE(w()->CheckListBox1->isChecked(line));
}

TEST_F(RealDisplay, TheWheelUnderThePointerPicksNothingInAnUnfocusedSelector) {
    signIn();
    activate(w());
    auto* faculty = w()->DBLookupComboBox1;
    w()->ListBox1->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    ASSERT_FALSE(faculty->hasFocus());

    const QPoint at = faculty->mapToGlobal(faculty->rect().center());
    const int m = mark();
    xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())},
            [&] { return QApplication::widgetAt(QCursor::pos()) == faculty; });
    ASSERT_EQ(QApplication::widgetAt(QCursor::pos()), faculty) << "the pointer is not over the box";
    xdotool({QStringLiteral("click"), QStringLiteral("5")});  // wheel down
    xdotool({QStringLiteral("click"), QStringLiteral("5")});
    xdotool({QStringLiteral("click"), QStringLiteral("4")});  // wheel up
    EXPECT_FALSE(faculty->hasKey());
    EXPECT_EQ(faculty->shownText(), QString());
    EXPECT_FALSE(w()->DBLookupComboBox2->isEnabled());
    EXPECT_EQ(since(m), QStringList());
}

TEST_F(RealDisplay, TabIntoTheStudentListSelectsNobodyAndDownTakesTheFirst) {
    signIn();
    qtltest::frame::chooseClass(w());
    // The form-of-control step left the group list open; it would hold the keyboard.
    for (auto* box : w()->findChildren<qtl::LookupComboBox*>()) box->closeUp();
    activate(w());
    auto* list = w()->CheckListBox1;
    ASSERT_EQ(list->itemIndex(), -1);
    const int m = mark();

    QWidget* before = tabNeighbour(list, true);
    QWidget* after = tabNeighbour(list, false);
    before->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    xdotool({QStringLiteral("key"), QStringLiteral("Tab")}, [&] { return list->hasFocus(); });
    EXPECT_TRUE(list->hasFocus()) << "focus is on "
                                  << (QApplication::focusWidget()
                                          ? QApplication::focusWidget()->metaObject()->className()
                                          : "nothing");
    EXPECT_EQ(list->itemIndex(), -1);

    after->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    xdotool({QStringLiteral("key"), QStringLiteral("shift+Tab")}, [&] { return list->hasFocus(); });
    EXPECT_TRUE(list->hasFocus());
    EXPECT_EQ(list->itemIndex(), -1);
    EXPECT_EQ(startingWith(since(m), QStringLiteral("EXEC GetKPVStudentInfo")), QStringList());

    xdotool({QStringLiteral("key"), QStringLiteral("Down")}, [&] { return list->itemIndex() == 0; });
    EXPECT_EQ(list->itemIndex(), 0);
    const QStringList loaded = startingWith(since(m), QStringLiteral("EXEC GetKPVStudentInfo"));
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_TRUE(loaded[0].startsWith(
        QStringLiteral("EXEC GetKPVStudentInfo   @id_student = %1 ,").arg(demo::kStudentAbdullaev)))
        << qPrintable(loaded[0]);
}

}  // namespace
