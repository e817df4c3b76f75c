// The main window's writing of registrations: the registration deadline, registering the ticked
// students and removing the selected registrations with their audit rows.
#include "main_u.h"

#include "dm_u.h"
#include "platform/MessageBoxes.h"
#include "util/errors.h"
#include "util/util.h"

#include <QGuiApplication>
#include <QStringList>

namespace qtl {

namespace {

const QChar kDoubleQuote = QLatin1Char('"');

// The key value of a selector converted to an integer, in decimal. A selector without a key
// fails the conversion, which ends the caller before anything is sent.
QString keyAsInteger(const LookupComboBox* box) {
    return QString::number(StrToInt(box->keyText()));
}

}  // namespace

bool TForm1::RegistrationDeadlineCheck() {
    Query* q = DM_MB->ADOQ_DATE_reg_DFS;
    q->close();
    q->setSql(QStringLiteral("Select id_a_year, id_w_s, id_f_educ, endDate, id_group FROM  "
                             "dbo.V_Date_reg_DFS GROUP BY id_a_year, id_w_s, id_f_educ, endDate, "
                             "id_group HAVING (id_a_year =") +
              keyAsInteger(DBLookupComboBox2) + QStringLiteral(") AND (id_w_s =") +
              keyAsInteger(DBLookupComboBox5) + QStringLiteral(") AND (id_group = ") +
              keyAsInteger(DBLookupComboBox3) + QStringLiteral(")"));
    q->open();
    // A null endDate and an empty result both read as 1899-12-30: the period is over.
    const QDate endDate = q->fieldAsDateTime(QStringLiteral("endDate")).date();
    const QDate today = Today ? Today() : QDate::currentDate();
    if (today > endDate) {
        MessageBoxes::ask(this,
                          QStringLiteral("Сроки регистрации студентов на дисциплины закончены "),
                          QStringLiteral("Уведомление"), MbIcon::Warning, MbButtons::Ok);
        return false;
    }
    return true;
}

void TForm1::SpeedButton1Click() {
    if (!RegistrationDeadlineCheck()) return;

    Query* exec = DM_MB->ADOQ_Exec;
    const QString year = DBLookupComboBox2->keyText();
    const QString kafedra = DBLookupComboBox8->keyText();
    const QString teacher = DBLookupComboBox9->keyText();
    const QString examination = DBLookupComboBox4->keyText();
    const QString group = DBLookupComboBox3->keyText();
    const QString stream = DBLookupComboBox11->keyText();
    const QString idWs = DM_MB->ADOQ_Semester->fieldAsString(QStringLiteral("id_w_s"));
    const QString discipline =
        DM_MB->ADOQ_SelectDisciplineForStudent->fieldAsString(QStringLiteral("id_discipline"));

    // Lesson kind of the chosen stream.
    exec->close();
    exec->setSql(QStringLiteral("SELECT subgroup,id_rrnkKrdt,id_vid_zaniatiy,id_ebe_var FROM "
                                "dbo.RRNKkrdt WHERE (id_w_s =         ") +
                 idWs + QStringLiteral(") AND   (id_discipline =  ") + discipline +
                 QStringLiteral(") AND   (id_teacher =     ") + teacher +
                 QStringLiteral(") AND   (id_a_year =      ") + year +
                 QStringLiteral(") AND   (id_kafedra =     ") + kafedra +
                 QStringLiteral(") AND   (id_examination = ") + examination +
                 QStringLiteral(") AND   (subgroup =       ") + stream +
                 QStringLiteral(") AND   (id_vid_zaniatiy is not NULL) ORDER BY subgroup"));
    exec->open();
    const QString vidZaniatiy = exec->fieldAsString(QStringLiteral("id_vid_zaniatiy"));
    const QString krdt =
        DM_MB->ADOQ_SelectDisciplineForStudent->fieldAsString(QStringLiteral("Krdt"));
    exec->close();

    // Faculty that owns the stream.
    exec->setSql(QStringLiteral("SELECT id_faculty  FROM  dbo.RRNK_krdt_kolst WHERE (id_a_year = ") +
                 year + QStringLiteral(") AND (id_w_s = ") + idWs +
                 QStringLiteral(") AND (id_kafedra = ") + kafedra +
                 QStringLiteral(") AND (id_teacher = ") + teacher +
                 QStringLiteral(") AND (id_discipline = ") + discipline +
                 QStringLiteral(") AND (id_examination = ") + examination +
                 QStringLiteral(") AND (subgroup = ") + stream + QStringLiteral(")"));
    exec->open();
    const QString faculty = exec->fieldAsString(QStringLiteral("id_faculty"));

    for (int i = 0; i < CheckListBox1->count(); ++i) {
        if (!CheckListBox1->isChecked(i)) continue;
        const auto* student = static_cast<const StudentItem*>(CheckListBox1->record(i));
        const QString idStudent = QString::number(student->id_student);

        exec->close();
        exec->setSql(QStringLiteral("SELECT  Sum([kredits]) as Sumkredits FROM "
                                    "[QTL].[dbo].[DisciplineForStudent] where id_student=") +
                     idStudent + QStringLiteral(" and id_semester=") + SelectedInsSemesterId +
                     QStringLiteral(" and id_group=") + group + QStringLiteral(" and id_a_year=") +
                     year);
        exec->open();
        const QString sumText = exec->fieldAsString(QStringLiteral("Sumkredits"));
        const qint64 held = sumText.isEmpty() ? 0 : exec->fieldAsInt(QStringLiteral("Sumkredits"));

        // 64-bit sums: a huge limit or credit value must not overflow the comparison.
        const int oz = DM_MB->ADOQ_group->fieldAsInt(QStringLiteral("o_z"));
        if (oz == 0 || oz == 1) {
            const qint64 limit =
                qint64(oz == 0 ? g_signIn.CreditLimitForOz0 : g_signIn.CreditLimitForOz1) + 5;
            if (held + StrToInt(krdt) > limit) {
                MessageBoxes::ask(this, QStringLiteral("Количество кредитов превышено!!!"),
                                  QGuiApplication::applicationDisplayName(), MbIcon::None,
                                  MbButtons::Ok);
                continue;
            }
        }

        exec->setSql(
            QStringLiteral("INSERT INTO DisciplineForStudent  (id_student, descGroupNum, "
                           "id_discipline, id_a_year, id_semester, id_ins_year, id_ins_semester, "
                           "id_teacher, id_group,  id_examination, subGroup, QTL_user, id_faculty, "
                           "id_kafedra, kredits, isByPlan, id_vid_zaniatiy) VALUES(") +
            idStudent + QStringLiteral(", ") + SelectedDescGroupNum + QStringLiteral(", ") +
            discipline + QStringLiteral(",") + year + QStringLiteral(",") + SelectedInsSemesterId +
            QStringLiteral(",") + year + QStringLiteral(",") + SelectedInsSemesterId +
            QStringLiteral(",") + teacher + QStringLiteral(",") + group + QStringLiteral(",") +
            examination + QStringLiteral(",") + stream + QStringLiteral(", ") +
            WrapInQuotes(g_signIn.CurrentLogin) + QStringLiteral(",") + faculty +
            QStringLiteral(",") + kafedra + QStringLiteral(",") + krdt + QStringLiteral(",") +
            SelectedIsByPlan + QStringLiteral(",") + vidZaniatiy + QStringLiteral(")"));
        exec->execute();
    }

    const int savedItemIndex = CheckListBox1->itemIndex();
    ReloadLists();
    CheckListBox1->setItemIndex(savedItemIndex);
    CheckListBox1Click();
}

void TForm1::SpeedButton2Click() {
    if (!RegistrationDeadlineCheck()) return;

    const QString question =
        QStringLiteral("Вы действительно хотите удалить выбранных студентов от преподавателя ") +
        kDoubleQuote + DBLookupComboBox9->shownText() + kDoubleQuote +
        QStringLiteral(", по дисциплине ") + kDoubleQuote + DBLookupComboBox6->shownText() +
        kDoubleQuote + QStringLiteral("?");
    if (MessageBoxes::ask(this, question, QStringLiteral("Уведомление"), MbIcon::Question,
                          MbButtons::YesNo) != MbResult::Yes)
        return;

    bool anyRemoved = false;
    QStringList refusedList;

    for (int i = ListBox1->count() - 1; i >= 0; --i) {
        if (!ListBox1->isSelected(i)) continue;
        const auto* line = static_cast<const StreamItem*>(ListBox1->record(i));

        if (!DM_MB->ADOQ_Faculty->locate(QStringLiteral("id_faculty"), line->id_faculty)) {
            if (!refusedList.isEmpty()) refusedList.last() += QLatin1Char(',');
            refusedList << kDoubleQuote + ListBox1->lineText(i) + kDoubleQuote;
            continue;
        }

        const QString rowId = QString::number(line->id_disciplineForStudent);
        // The selection of the window at the time of the deletion, then the row's own keys.
        const QVector<TKeyValue> pairs = {
            {QStringLiteral("id_faculty"), DBLookupComboBox1->keyText()},
            {QStringLiteral("id_a_year"), DBLookupComboBox2->keyText()},
            {QStringLiteral("id_kafedra"), DBLookupComboBox8->keyText()},
            {QStringLiteral("id_teacher"), DBLookupComboBox9->keyText()},
            {QStringLiteral("id_w_s"), DBLookupComboBox5->keyText()},
            {QStringLiteral("id_discipline"), DM_MB->ADOQ_SelectDisciplineForStudent->fieldAsString(
                                                  QStringLiteral("id_discipline"))},
            {QStringLiteral("Krdt"),
             DM_MB->ADOQ_SelectDisciplineForStudent->fieldAsString(QStringLiteral("Krdt"))},
            {QStringLiteral("id_examination"), DBLookupComboBox4->keyText()},
            {QStringLiteral("id_group"), DBLookupComboBox3->keyText()},
            {QStringLiteral("subgroup"), DBLookupComboBox11->keyText()},
            {QStringLiteral("id_student"), QString::number(line->id_student)},
            {QStringLiteral("id_disciplineForStudent"), rowId},
        };

        // The DELETE and its audit row go as one batch in one transaction: an audit failure
        // (or a lost link) undoes the deletion instead of leaving it without its audit row.
        // XACT_ABORT makes any error in the batch roll the transaction back.
        const QString comp = g_signIn.ComputerName + QLatin1Char('\\') +
                             DM_MB->IdIPWatch1->localIP();
        Query* exec = DM_MB->ADOQ_Exec;
        exec->close();
        exec->setSqlLines({
            QStringLiteral("SET XACT_ABORT ON"),
            QStringLiteral("BEGIN TRAN"),
            QStringLiteral("DELETE FROM DisciplineForStudent WHERE (id_disciplineForStudent = ") +
                rowId + QStringLiteral(")"),
            TDM_MB::LogRecordStatement(TDM_MB::DescribePairs(pairs),
                                       QStringLiteral("DisciplineForStudent"), rowId,
                                       g_signIn.CurrentLogin, comp),
            QStringLiteral("COMMIT TRAN"),
        });
        exec->execute();
        anyRemoved = true;
    }

    if (!refusedList.isEmpty()) {
        refusedList.last() += QLatin1Char('.');
        QString text = QStringLiteral("Вы не имеете право удалять данных студентов:") +
                       QChar(13);
        for (const QString& entry : refusedList) text += entry + QStringLiteral("\r\n");
        MessageBoxes::ask(this, text, QStringLiteral("Уведомление"), MbIcon::Warning,
                          MbButtons::Ok);
    }

    const int savedItemIndex = CheckListBox1->itemIndex();
    if (anyRemoved) ReloadLists();
    CheckListBox1->setItemIndex(savedItemIndex);
    CheckListBox1Click();
}

}  // namespace qtl
