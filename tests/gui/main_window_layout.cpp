// The main window as laid out: regions, positions, states at start, sizing arithmetic, and the
// removal button decided by the rights query on first show.
#include "chain_helpers.h"

#include <QGroupBox>
#include <QIcon>
#include <QImage>

#include <cstdlib>

using namespace qtltest::chain;

namespace {

class MainWindowLayout : public MainWindowTest {};

const QString kRightsHead = QStringLiteral(
    "SELECT TOP (1) id_QTL_user, visible, QTL_login, canRemoveDFSFromExStudent FROM QTL_User WHERE "
    "(canRemoveDFSFromExStudent = 1)  AND (QTL_login ='");

TEST_F(MainWindowLayout, RegionsAndControlsAtStart) {
    signIn();
    auto* f = w();
    EXPECT_EQ(f->size(), QSize(927, 644));
    EXPECT_EQ(f->minimumSize(), QSize(805, 574));
    EXPECT_EQ(f->Panel5->geometry(), QRect(0, 0, 927, 249));
    EXPECT_EQ(f->Bevel6->geometry(), QRect(0, 249, 927, 4));
    EXPECT_EQ(f->Frame11->geometry(), QRect(0, 644 - 127, 927, 127));
    EXPECT_EQ(f->Panel1->geometry(), QRect(0, 253, 927, 644 - 253 - 127));
    EXPECT_EQ(f->ToolBar1->height(), 29);
    EXPECT_EQ(f->RzBitBtn1->size(), QSize(169, 25));
    EXPECT_EQ(f->RzBitBtn1->text(), QStringLiteral("Удалить регистрацию"));

    const struct {
        QLabel* label;
        const char* caption;
        qtl::LookupComboBox* box;
        int top;
    } rows[] = {
        {f->Label1, "Факультет:", f->DBLookupComboBox1, 31},
        {f->Label2, "Учебный год:", f->DBLookupComboBox2, 54},
        {f->Label9, "Кафедра:", f->DBLookupComboBox8, 77},
        {f->Label10, "Преподаватель:", f->DBLookupComboBox9, 101},
        {f->Label5, "Семестр:", f->DBLookupComboBox5, 125},
        {f->Label6, "Дисциплина:", f->DBLookupComboBox6, 149},
        {f->Label3, "Форма контроля:", f->DBLookupComboBox4, 172},
        {f->Label4, "Группа:", f->DBLookupComboBox3, 196},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.caption);
        EXPECT_EQ(r.label->text(), QString::fromUtf8(r.caption));
        EXPECT_LE(r.label->geometry().right(), 138);
        EXPECT_TRUE(r.label->alignment() & Qt::AlignRight);
        EXPECT_EQ(r.label->font().family(), QStringLiteral("Palatino Linotype"));
        EXPECT_EQ(r.label->font().pixelSize(), 15);
        EXPECT_TRUE(r.label->font().bold());
        EXPECT_EQ(r.box->geometry().topLeft(), QPoint(139, r.top));
        EXPECT_EQ(r.box->height(), 21);
        EXPECT_EQ(r.box->maxVisibleItems(), 25);
        EXPECT_EQ(r.box->palette().color(QPalette::Active, QPalette::ButtonText), QColor(0, 0, 128));
        EXPECT_EQ(r.box->isEnabled(), r.box == f->DBLookupComboBox1);
        EXPECT_FALSE(r.box->hasKey());
    }
    EXPECT_EQ(f->DBLookupComboBox1->count(), 2);  // the operator's two faculties, from the login

    EXPECT_TRUE(f->DBLookupComboBox11->isEnabled());
    EXPECT_FALSE(f->SpeedButton1->isEnabled());
    EXPECT_FALSE(f->SpeedButton2->isEnabled());
    EXPECT_FALSE(f->CheckBox1->isEnabled());
    EXPECT_EQ(f->CheckBox1->text(), QStringLiteral("Студенты:"));
    EXPECT_EQ(f->CheckBox1->toolTip(), QStringLiteral("Выбрать всех"));
    EXPECT_EQ(f->SpeedButton1->toolTip(),
              QStringLiteral("Добавить выбранных студентов к выбраному преподавателю на выброную дисциплину"));
    EXPECT_EQ(f->SpeedButton2->toolTip(),
              QStringLiteral("Убрать студентов от выбраного преподавателя для выбраной дисциплины"));
    EXPECT_EQ(f->SpeedButton1->geometry(), QRect(2, 107, 190, 35));
    EXPECT_EQ(f->SpeedButton2->geometry(), QRect(2, 153, 190, 33));
    EXPECT_EQ(f->Panel2->width(), 199);
    EXPECT_EQ(f->GroupBox2->title(), QStringLiteral("Студенты по потокам:"));
    EXPECT_FALSE(f->Panel4->isVisible());
    EXPECT_FALSE(f->BitBtn1->isEnabled());
    EXPECT_FALSE(f->CheckBox2->isVisible());
    EXPECT_FALSE(f->CheckBox2->isChecked());
    EXPECT_FALSE(f->DBLookupComboBox7->isVisible());
    EXPECT_FALSE(f->DBLookupComboBox7->isEnabled());
    EXPECT_EQ(f->Panel3->geometry().size(), QSize(160, 25));
    EXPECT_EQ(f->Panel3->y(), 218);
    EXPECT_EQ(f->Panel3->x(), f->GroupBox2->x());
    EXPECT_TRUE(f->Label12->text().isEmpty());
    EXPECT_EQ(f->Label12->pos(), QPoint(136, 216));
    EXPECT_FALSE(f->testAttribute(Qt::WA_PaintOnScreen));
}

TEST_F(MainWindowLayout, WideBoxesFollowTheWindowWidth) {
    signIn();
    auto* f = w();
    for (int width : {927, 805, 1024, 1366, 900}) {
        SCOPED_TRACE(width);
        f->resize(width, 700);
        QApplication::processEvents();
        ASSERT_EQ(f->Panel5->width(), width);
        for (auto* box : {f->DBLookupComboBox1, f->DBLookupComboBox8, f->DBLookupComboBox9, f->DBLookupComboBox6,
                          f->DBLookupComboBox4, f->DBLookupComboBox3})
            EXPECT_EQ(box->x() + box->width(), f->Panel5->width() - 5) << qPrintable(box->objectName());
        EXPECT_EQ(f->DBLookupComboBox2->width(), 188);
        EXPECT_EQ(f->DBLookupComboBox5->width(), 188);
        EXPECT_EQ(f->GroupBox1->width(), (f->Panel1->width() - 199) / 2);
        EXPECT_EQ(f->GroupBox2->x(), f->GroupBox1->width() + 199);
        EXPECT_EQ(f->GroupBox2->geometry().right(), f->Panel1->width() - 1);
        EXPECT_EQ(f->Frame11->y() + f->Frame11->height(), 700);
        f->grab();  // a paint puts Panel3 back over the stream list
        EXPECT_EQ(f->Panel3->x(), f->GroupBox2->x());
    }
}

TEST_F(MainWindowLayout, SplitOfTheWorkAreaTruncates) {
    signIn();
    auto* f = w();
    f->Panel1->resize(720, f->Panel1->height());
    f->FormResize();
    EXPECT_EQ(f->GroupBox1->width(), 260);
    EXPECT_EQ(f->GroupBox2->width(), 261);
    EXPECT_EQ(f->GroupBox2->x(), 459);
}

TEST_F(MainWindowLayout, CannotBeMadeSmallerThanTheMinimum) {
    signIn();
    w()->resize(600, 400);
    QApplication::processEvents();
    EXPECT_EQ(w()->size(), QSize(805, 574));
    EXPECT_EQ(w()->Panel1->height(), 574 - 253 - 127);
}

// The two picture buttons carry their glyphs from the program's resources: the removal button
// a normal and a grey disabled picture, the register button one picture.
TEST_F(MainWindowLayout, PictureButtonsShowTheirGlyphs) {
    signIn();
    auto* f = w();
    const QIcon remove = f->RzBitBtn1->icon();
    ASSERT_FALSE(remove.isNull());
    const QImage normal = remove.pixmap(QSize(16, 16), QIcon::Normal).toImage();
    const QImage disabled = remove.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    EXPECT_EQ(normal.size(), QSize(16, 16));
    EXPECT_EQ(normal, QImage(QStringLiteral(":/remove_registration.png")).convertToFormat(normal.format()));
    EXPECT_EQ(disabled,
              QImage(QStringLiteral(":/remove_registration_disabled.png")).convertToFormat(disabled.format()));
    EXPECT_NE(normal, disabled);
    // The disabled picture is grey: no pixel of it is clearly coloured.
    for (int y = 0; y < disabled.height(); ++y)
        for (int x = 0; x < disabled.width(); ++x) {
            const QColor c = disabled.pixelColor(x, y);
            if (c.alpha() > 0) {
                EXPECT_LE(std::abs(c.red() - c.blue()), 8) << x << "," << y;
            }
        }

    const QIcon reg = f->SpeedButton1->icon();
    ASSERT_FALSE(reg.isNull());
    EXPECT_FALSE(QImage(QStringLiteral(":/register_arrow.png")).isNull());
    const QImage arrow = reg.pixmap(QSize(16, 16)).toImage();
    EXPECT_EQ(arrow, QImage(QStringLiteral(":/register_arrow.png")).convertToFormat(arrow.format()));
}

TEST_F(MainWindowLayout, RemovalButtonShownForAnOperatorWithTheRight) {
    signIn(QStringLiteral("operator"), QStringLiteral("operator"));
    EXPECT_TRUE(w()->RzBitBtn1->isVisible());
    const QStringList rights = startingWith(server->batches(), kRightsHead);
    ASSERT_EQ(rights.size(), 1);
    EXPECT_EQ(rights[0], sent(kRightsHead + QStringLiteral("operator')")));
}

TEST_F(MainWindowLayout, RemovalButtonHiddenForAViewer) {
    signIn(QStringLiteral("viewer"), QStringLiteral("viewer1"));
    EXPECT_FALSE(w()->RzBitBtn1->isVisible());
    const QStringList rights = startingWith(server->batches(), kRightsHead);
    ASSERT_EQ(rights.size(), 1);
    EXPECT_EQ(rights[0], sent(kRightsHead + QStringLiteral("viewer')")));
}

TEST_F(MainWindowLayout, QuotesInTheLoginAreDoubledInTheRightsQuery) {
    signIn();
    qtl::g_signIn.CurrentLogin = QStringLiteral("o'hara' OR '1'='1");
    const int m = mark();
    w()->FormShow();
    ASSERT_EQ(since(m).size(), 1);
    EXPECT_EQ(since(m)[0], sent(kRightsHead + QStringLiteral("o''hara'' OR ''1''=''1')")));
    EXPECT_FALSE(w()->RzBitBtn1->isVisible());  // no such login: no right
}

}  // namespace
