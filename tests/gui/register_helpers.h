// Helpers of the registering and removing tests: the statements a click must send, written out
// from the design texts, operator input on the two lists, and a movable "today".
#pragma once

#include "chain_helpers.h"

#include <functional>

namespace qtltest::reg {

using namespace qtltest::chain;

// ---- statements

inline QString deadlineCheck(int year, int ws, int group) {
    return "Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  dbo.V_Date_reg_DFS GROUP BY "
           "id_a_year, id_w_s, id_f_educ, endDate, id_group HAVING (id_a_year =" +
           num(year) + ") AND (id_w_s =" + num(ws) + ") AND (id_group = " + num(group) + ")";
}

struct Class {
    int year, ws, kafedra, teacher, discipline, exam, stream;
};

inline QString lessonKind(const Class& c) {
    return "SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM dbo.RRNKkrdt WHERE (id_w_s =         " +
           num(c.ws) + ") AND   (id_discipline =  " + num(c.discipline) +
           ") AND   (id_teacher =     " + num(c.teacher) + ") AND   (id_a_year =      " + num(c.year) +
           ") AND   (id_kafedra =     " + num(c.kafedra) + ") AND   (id_examination = " + num(c.exam) +
           ") AND   (subgroup =       " + num(c.stream) + ") AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup";
}

inline QString facultyLookup(const Class& c) {
    return "SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = " + num(c.year) +
           ") AND (id_w_s = " + num(c.ws) + ") AND (id_kafedra = " + num(c.kafedra) +
           ") AND (id_teacher = " + num(c.teacher) + ") AND (id_discipline = " + num(c.discipline) +
           ") AND (id_examination = " + num(c.exam) + ") AND (subgroup = " + num(c.stream) + ")";
}

inline QString creditSum(int student, int semester, int group, int year) {
    return "SELECT  Sum([kredits]) as Sumkredits FROM [QTL].[dbo].[DisciplineForStudent] where id_student=" +
           num(student) + " and id_semester=" + num(semester) + " and id_group=" + num(group) +
           " and id_a_year=" + num(year);
}

struct Row {
    int student, descGroupNum, semester, group, faculty, credits, isByPlan, vid;
    QString login;
};

inline QString insertRow(const Class& c, const Row& r) {
    QString login = r.login;
    login.replace(QLatin1Char('\''), QStringLiteral("''"));
    return "INSERT INTO DisciplineForStudent  (id_student, descGroupNum, id_discipline, id_a_year, id_semester, "
           "id_ins_year, id_ins_semester, id_teacher, id_group,  id_examination, subGroup, QTL_user, "
           "id_faculty, id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES(" +
           num(r.student) + ", " + num(r.descGroupNum) + ", " + num(c.discipline) + "," + num(c.year) + "," +
           num(r.semester) + "," + num(c.year) + "," + num(r.semester) + "," + num(c.teacher) + "," + num(r.group) +
           "," + num(c.exam) + "," + num(c.stream) + ", '" + login + "'," + num(r.faculty) + "," + num(c.kafedra) +
           "," + num(r.credits) + "," + num(r.isByPlan) + "," + num(r.vid) + ")";
}

// The window's selection written into each audit row (everything but the row's own keys).
struct Selection {
    int faculty, year, kafedra, teacher, ws, discipline, credits, exam, group, stream;
};

inline QString auditDescription(const Selection& s, int student, int row) {
    return "id_faculty[" + num(s.faculty) + "], id_a_year[" + num(s.year) + "], id_kafedra[" + num(s.kafedra) +
           "], id_teacher[" + num(s.teacher) + "], id_w_s[" + num(s.ws) + "], id_discipline[" + num(s.discipline) +
           "], Krdt[" + num(s.credits) + "], id_examination[" + num(s.exam) + "], id_group[" + num(s.group) +
           "], subgroup[" + num(s.stream) + "], id_student[" + num(student) + "], id_disciplineForStudent[" + num(row) +
           "]";
}

inline QString storedDescr(const Selection& s, int student, int row) {
    return "Запись с уникальным номером - '" + num(row) + "' была удалена - (" + auditDescription(s, student, row) +
           ").";
}

// One removal as it reaches the server: the DELETE and its audit row in one transaction.
inline QString removalBatch(const Selection& s, int student, int row, const QString& login, const QString& comp) {
    QString descr = storedDescr(s, student, row);
    descr.replace(QLatin1Char('\''), QStringLiteral("''"));
    QString l = login, c = comp;
    l.replace(QLatin1Char('\''), QStringLiteral("''"));
    c.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QStringLiteral("SET XACT_ABORT ON\r\nBEGIN TRAN\r\n") +
           "DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = " + num(row) + ")\r\n" +
           "INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) VALUES('DisciplineForStudent', " +
           num(row) + ", '" + descr + "', '" + l + "', '" + c + "')\r\nCOMMIT TRAN\r\nSET XACT_ABORT OFF\r\n";
}

// What follows a failed removal batch: the open transaction ended, the error rules restored.
inline const QString kEndTransaction = QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRAN\r\nSET XACT_ABORT OFF\r\n");

inline QString confirmation(const QString& teacher, const QString& discipline) {
    return "Вы действительно хотите удалить выбранных студентов от преподавателя \"" + teacher +
           "\", по дисциплине \"" + discipline + "\"?";
}

inline const QString kDeadlineText = QStringLiteral("Сроки регистрации студентов на дисциплины закончены ");
inline const QString kOverLimitText = QStringLiteral("Количество кредитов превышено!!!");
inline const QString kNotice = QStringLiteral("Уведомление");

// Moves the window's "today" for the life of the object.
class TodayIs {
public:
    explicit TodayIs(QDate day) : m_saved(qtl::TForm1::Today) {
        qtl::TForm1::Today = [day] { return day; };
    }
    ~TodayIs() { qtl::TForm1::Today = m_saved; }
    TodayIs(const TodayIs&) = delete;
    TodayIs& operator=(const TodayIs&) = delete;

private:
    std::function<QDate()> m_saved;
};

// ---- fixture

class RegistrationTest : public MainWindowTest {
protected:
    int lineOfStudent(int student) const {
        for (int i = 0; i < w()->CheckListBox1->count(); ++i) {
            const auto* item = dynamic_cast<const qtl::StudentItem*>(w()->CheckListBox1->record(i));
            if (item && item->id_student == student) return i;
        }
        return -1;
    }
    const qtl::StudentItem* studentItem(int line) const {
        return dynamic_cast<const qtl::StudentItem*>(w()->CheckListBox1->record(line));
    }
    // Ticks a student with the mouse on his line's check box (the line gets selected too).
    void tick(int student) {
        const int line = lineOfStudent(student);
        ASSERT_GE(line, 0) << "student " << student << " not listed";
        auto* list = w()->CheckListBox1;
        const QRect r = list->visualItemRect(list->item(line));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 6, r.center().y()));
        QApplication::processEvents();
        ASSERT_TRUE(list->isChecked(line)) << "student " << student << " not ticked";
    }
    // Selects a line of the check list with the mouse on its text.
    void selectStudentLine(int line) {
        auto* list = w()->CheckListBox1;
        const QRect r = list->visualItemRect(list->item(line));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 40, r.center().y()));
        QApplication::processEvents();
    }

    // Lines of the streams list by their registration.
    int lineOfRegistration(int row) const {
        for (int i = 0; i < w()->ListBox1->count(); ++i) {
            const auto* item = dynamic_cast<const qtl::StreamItem*>(w()->ListBox1->record(i));
            if (item && item->id_disciplineForStudent == row) return i;
        }
        return -1;
    }
    // Ctrl-clicks each line of the streams list so that exactly these are selected.
    void selectStreamLines(const QList<int>& lines) {
        auto* list = w()->ListBox1;
        list->clearSelection();
        for (int line : lines) {
            list->scrollToItem(list->item(line));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              list->visualItemRect(list->item(line)).center());
        }
        QApplication::processEvents();
    }
    QList<int> selectedStreamLines() const {
        QList<int> out;
        for (int i = 0; i < w()->ListBox1->count(); ++i)
            if (w()->ListBox1->isSelected(i)) out << i;
        return out;
    }

    // Clicks a row of an open drop-down list by its position (rows that show the same text).
    void pickRow(qtl::LookupComboBox* box, int row) {
        ASSERT_TRUE(box->isDroppedDown()) << qPrintable(box->objectName()) << " is not dropped down";
        QAbstractItemView* view = box->view();
        const QModelIndex index = view->model()->index(row, box->modelColumn());
        view->scrollTo(index);
        const QPoint at = view->visualRect(index).center();
        QTest::mouseMove(view->viewport(), at);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QApplication::processEvents();
    }

    // Opens a closed selector with the mouse and picks a row. The drop-down list ignores a
    // release that comes within the double-click interval of its opening, so wait that out.
    void repick(qtl::LookupComboBox* box, const QString& text) {
        ASSERT_FALSE(box->isDroppedDown());
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, box->rect().center());
        QApplication::processEvents();
        QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 20);
        pickInList(box, text);
        ASSERT_FALSE(box->isDroppedDown()) << "the pick was not taken";
    }

    void clickRegister() {
        QTest::mouseClick(w()->SpeedButton1, Qt::LeftButton);
        QApplication::processEvents();
    }
    void clickRemove() {
        QTest::mouseClick(w()->SpeedButton2, Qt::LeftButton);
        QApplication::processEvents();
    }

    // Registration row id of a student for a discipline (and stream) this year (0 when none).
    int registrationId(int student, int discipline, int stream = -1) const {
        QString sql = "SELECT id_disciplineForStudent FROM DisciplineForStudent WHERE id_student = " + num(student) +
                      " AND id_discipline = " + num(discipline) +
                      " AND id_ins_year = " + num(devserver::qtl::demo::kYearCurrent);
        if (stream >= 0) sql += " AND subGroup = " + num(stream);
        return server->sqliteScalar(sql).toInt();
    }
    int count(const QString& table, const QString& where = QString()) const {
        return server->sqliteScalar("SELECT COUNT(*) FROM " + table + (where.isEmpty() ? QString() : " WHERE " + where))
            .toInt();
    }

    // The server's error text (driver tags removed) as the operator sees it.
    QStringList errorTexts() const {
        QStringList out;
        for (const auto& s : boxes.shown())
            if (s.icon == qtl::MbIcon::Error) out << s.text;
        return out;
    }

    // Restarts the server with other fault options. The old link is dead; the client is
    // reconnected here so that the next click starts on a live session, as after any action.
    void restartServerWith(const QString& failOn, const QString& dropOn = QString()) {
        DevServer::Options o = options;
        o.failOn = failOn;
        o.dropOn = dropOn;
        server->restartWith(o);
        qtl::DM_MB->ADOCon->close();
        qtl::DM_MB->ADOCon->open();
    }

    QString comp() const { return qtl::g_signIn.ComputerName + QLatin1Char('\\') + qtl::DM_MB->IdIPWatch1->localIP(); }
};

}  // namespace qtltest::reg
