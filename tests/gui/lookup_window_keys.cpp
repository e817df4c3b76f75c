// The search and registrations windows close only by their close box and "Закрыть": Esc and
// Enter are not ways out (Enter in the registrations grid used to press "Закрыть"). Also what
// the operator reads on their buttons and on the real message boxes.
#include "DevServer.h"
#include "SignIn.h"
#include "search_helpers.h"

#include "Unit4.h"
#include "Unit5.h"
#include "dm_u.h"
#include "main_u.h"

#include "../../devserver/qtl/demo_ids.h"

#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

namespace demo = devserver::qtl::demo;
using namespace qtltest::lookup;
using qtltest::DevServer;
using qtltest::MessageRecorder;

namespace {

class LookupWindowKeys : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        form = qtltest::openMainWindow(server, QStringLiteral("operator"), QStringLiteral("operator"));
        ASSERT_TRUE(form);
        search = std::make_unique<qtl::TForm4>(form.get());
        search->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(search.get(), 20000));  // generous: a loaded X server is slow
        typeText(search->RzEdit1, QStringLiteral("Петров П"));
        ASSERT_GT(search->DBGridEh1->rowCountShown(), 0);
        const QRect cell = search->DBGridEh1->visualRect(search->DBGridEh1->model()->index(0, 0));
        QTest::mouseClick(search->DBGridEh1->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }
    std::unique_ptr<qtl::TForm5> openRegistrations() {
        auto regs = std::make_unique<qtl::TForm5>(search.get());
        regs->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(regs.get(), 20000));
        return regs;
    }

    DevServer server;
    MessageRecorder boxes;
    decltype(qtltest::openMainWindow(std::declval<DevServer&>(), QString(), QString())) form{};
    std::unique_ptr<qtl::TForm4> search;
};

TEST_F(LookupWindowKeys, EscLeavesTheSearchWindowOpen) {
    for (QWidget* target : {static_cast<QWidget*>(search->RzEdit1), static_cast<QWidget*>(search->DBGridEh1)}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        // Enter on a found student opens his registrations over the search window, as a double
        // click does; in the edit it does nothing.
        bool opened = false;
        if (target == search->DBGridEh1) whenModal<qtl::TForm5>([&opened](qtl::TForm5*) { opened = true; });
        QTest::keyClick(target, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_EQ(opened, target == search->DBGridEh1);
        EXPECT_TRUE(search->isVisible()) << qPrintable(target->metaObject()->className());
    }
    EXPECT_EQ(search->RzEdit1->text(), QStringLiteral("Петров П"));
    // Its close box still closes it.
    EXPECT_TRUE(search->close());
    EXPECT_FALSE(search->isVisible());
}

TEST_F(LookupWindowKeys, EscAndEnterLeaveTheRegistrationsWindowOpen) {
    auto regs = openRegistrations();
    ASSERT_GT(regs->DBGridEh1->rowCountShown(), 0);
    const int m = server.logMark();
    for (QWidget* target : {static_cast<QWidget*>(regs->DBGridEh1), static_cast<QWidget*>(regs.get())}) {
        target->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(target, key);
            QApplication::processEvents();
            EXPECT_TRUE(regs->isVisible()) << "key " << key << " on " << qPrintable(target->metaObject()->className());
        }
    }
    // Nothing was asked and nothing sent: Enter pressed neither button.
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(server.batchesSince(m), QStringList());
    EXPECT_TRUE(search->isVisible());

    QTest::mouseClick(regs->RzBitBtn2, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(regs->isVisible());
}

TEST_F(LookupWindowKeys, TheDeleteButtonShowsItsWholeText) {
    auto regs = openRegistrations();
    for (QPushButton* button : {regs->RzBitBtn1, regs->RzBitBtn2}) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        // The glyph, the gap the style leaves after it, and the text in the button's own font.
        const int needed = button->iconSize().width() + 4 + button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_LE(needed, contents.width()) << qPrintable(button->text()) << ": " << needed << " > " << contents.width()
                                            << " in font " << qPrintable(button->font().toString());
        EXPECT_EQ(button->width(), button == regs->RzBitBtn1 ? 177 : 88);
    }
}

// The real boxes, shown modally and answered by a click on the button read.
struct SeenBox {
    QString title;
    QStringList buttons;
};

qtl::MbResult answerReal(qtl::MbButtons buttons, const QString& click, SeenBox& seen) {
    qtl::MessageBoxes::install(nullptr);
    whenModal<QMessageBox>([&seen, click](QMessageBox* box) {
        seen.title = box->windowTitle();
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            seen.buttons << b->text();
            if (b->text() == click) chosen = b;
        }
        if (chosen) chosen->click();
    });
    return qtl::MessageBoxes::ask(nullptr, QStringLiteral("Вы действительно хотите удалить строку "),
                                  QStringLiteral("Внимание!!!"), qtl::MbIcon::Warning, buttons);
}

TEST(RealMessageBoxes, AskInRussianWithTheirOwnCaption) {
    SeenBox yesNo;
    EXPECT_EQ(answerReal(qtl::MbButtons::YesNo, QStringLiteral("Нет"), yesNo), qtl::MbResult::No);
    EXPECT_EQ(yesNo.title, QStringLiteral("Внимание!!!"));
    std::sort(yesNo.buttons.begin(), yesNo.buttons.end());
    EXPECT_EQ(yesNo.buttons, (QStringList{QStringLiteral("Да"), QStringLiteral("Нет")}));

    SeenBox again;
    EXPECT_EQ(answerReal(qtl::MbButtons::YesNo, QStringLiteral("Да"), again), qtl::MbResult::Yes);

    SeenBox okCancel;
    EXPECT_EQ(answerReal(qtl::MbButtons::OkCancel, QStringLiteral("Отмена"), okCancel), qtl::MbResult::Cancel);
    std::sort(okCancel.buttons.begin(), okCancel.buttons.end());
    EXPECT_EQ(okCancel.buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Отмена")}));
}

}  // namespace
