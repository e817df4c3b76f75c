// The main window's class list: the rows of the streams list read with one statement, the header
// from the selectors, and the window that prints or saves them.
#include "main_u.h"

#include "Unit6.h"
#include "util/ClassList.h"

namespace qtl {

ClassList TForm1::readClassList() {
    const ChosenClass c = chosenClass();
    ClassList list;
    ClassListHeader& h = list.header;
    h.faculty = DBLookupComboBox1->shownText();
    h.year = DBLookupComboBox2->shownText();
    h.department = DBLookupComboBox8->shownText();
    h.teacher = DBLookupComboBox9->shownText();
    // The kind of term the streams list selects by, when it selects by one.
    h.termKind = CheckBox2->isChecked() && !DBLookupComboBox7->shownText().isEmpty() ? DBLookupComboBox7->shownText()
                                                                                     : DBLookupComboBox5->shownText();
    h.discipline = DBLookupComboBox6->shownText();
    h.credits = c.credits;
    h.examination = DBLookupComboBox4->shownText();
    h.date = Today ? Today() : QDate::currentDate();
    h.login = g_signIn.CurrentLogin;

    // A query of its own: the window's shared queries keep what they hold.
    Query q(DM_MB->ADOCon, QStringLiteral("ADOQ_ClassList"));
    q.setSql(statements::classList(c, streamsTermCondition(c)));
    for (q.open(); !q.eof(); q.next())
        list.addStudent(q.fieldAsString(QStringLiteral("subGroup")), q.fieldAsString(QStringLiteral("s_fio")),
                        q.fieldAsString(QStringLiteral("p20")));
    q.close();
    return list;
}

void TForm1::RzBitBtn2Click(bool savePdfFirst) {
    // A failed read ends here through the guard: its text is shown and no window opens.
    TForm6 window(readClassList(), this, savePdfFirst ? TForm6::First::SavePdf : TForm6::First::Print);
    window.exec();
}

}  // namespace qtl
