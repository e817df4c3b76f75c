// The statements of the transfer frame and of the search and registrations windows.
#include "statements/Statements.h"

#include "util/util.h"

namespace qtl {
namespace statements {

QString studentRegistration(int studentId, int insSemesterId, int insYearId, int disciplineId, int groupId,
                            int descGroupNum, const QString& credits) {
    return QStringLiteral("EXEC GetKPVStudentInfo   @id_student = ") + QString::number(studentId) +
           QStringLiteral(" ,@id_semester = ") + QString::number(insSemesterId) + QStringLiteral(" ,@id_a_year = ") +
           QString::number(insYearId) + QStringLiteral(" ,@id_discipline = ") + QString::number(disciplineId) +
           QStringLiteral(" ,@id_group =  ") + QString::number(groupId) + QStringLiteral(" ,@descGroupNum =  ") +
           QString::number(descGroupNum) + QStringLiteral(" ,@kredits =  ") + credits;
}

QString frameTeachers(const QString& department) {
    return QStringLiteral("SELECT id_teacher, t_fio FROM dbo.GetTFIO_with_pps(4, ") + department + QStringLiteral(")");
}

QString moveRegistration(const QString& teacher, const QString& stream, const QString& year, const QString& semester,
                         const ShownRegistration& shown, const QString& descGroupNum) {
    return QStringLiteral("UPDATE DisciplineForStudent SET id_teacher = ") + teacher + QStringLiteral(", subGroup = ") +
           stream + QStringLiteral(", id_a_year = ") + year + QStringLiteral(", id_semester = ") + semester +
           QStringLiteral(" WHERE ") + QStringLiteral("  id_student = ") + QString::number(shown.studentId) +
           QStringLiteral(" AND id_ins_year = ") + QString::number(shown.insYearId) +
           QStringLiteral(" AND id_examination = ") + QString::number(shown.examinationId) +
           QStringLiteral(" AND id_ins_semester = ") + QString::number(shown.insSemesterId) +
           QStringLiteral(" AND descGroupNum = ") + descGroupNum + QStringLiteral(" AND id_discipline = ") +
           QString::number(shown.disciplineId);
}

QString copyRegistration(const ChosenClass& c, const ShownRegistration& shown) {
    // Without a discipline condition the UPDATE would rewrite every registration of the student
    // in that year, semester and plan number into this discipline. When the frame found no
    // registration, the registration being rewritten is the one of the chosen discipline.
    const QString discipline = shown.disciplineId != 0 ? QString::number(shown.disciplineId) : c.discipline;
    return QStringLiteral("UPDATE DisciplineForStudent SET id_teacher = ") + c.teacher +
           QStringLiteral(", subGroup = ") + c.stream + QStringLiteral(", id_semester = ") + c.insSemesterId +
           QStringLiteral(", id_discipline = ") + c.discipline + QStringLiteral(", id_a_year = ") + c.year +
           QStringLiteral(", id_examination = ") + c.examination + QStringLiteral(", descGroupNum = ") +
           c.descGroupNum + QStringLiteral(", id_ins_year = ") + c.year + QStringLiteral(", kredits = ") + c.credits +
           QStringLiteral(", id_ins_semester = ") + c.insSemesterId + QStringLiteral(" WHERE ") +
           QStringLiteral("  id_student = ") + QString::number(shown.studentId) +
           QStringLiteral(" AND id_ins_year = ") + QString::number(shown.insYearId) +
           QStringLiteral(" AND id_ins_semester = ") + QString::number(shown.insSemesterId) +
           QStringLiteral(" AND descGroupNum = ") + c.descGroupNum + QStringLiteral(" AND id_discipline = ") +
           discipline;
}

QString studentSearch(const QString& text, const QString& login) {
    return QStringLiteral(
               "SELECT TOP (100) dbo.s_fio.id_student, dbo.s_fio.s_fio, dbo.[group].id_group, "
               "dbo.[group].p20, dbo.[group].id_faculty, T_user_fak.QTL_login FROM dbo.s_fio INNER JOIN "
               "dbo.movement_t ON dbo.s_fio.id_student = dbo.movement_t.id_student INNER JOIN dbo.[group] "
               "ON dbo.movement_t.id_group = dbo.[group].id_group INNER JOIN (SELECT "
               "dbo.QTL_User.id_QTL_user, dbo.QTL_User.QTL_login, dbo.user_faculty.faculty FROM "
               "dbo.QTL_User INNER JOIN dbo.user_faculty ON dbo.QTL_User.id_QTL_user = "
               "dbo.user_faculty.id_login WHERE (dbo.QTL_User.visible = 1)) AS T_user_fak ON "
               "dbo.[group].id_faculty = T_user_fak.faculty GROUP BY dbo.s_fio.id_student, "
               "dbo.s_fio.s_fio, dbo.[group].id_group, dbo.[group].p20, dbo.[group].id_faculty, "
               "T_user_fak.QTL_login HAVING (dbo.s_fio.s_fio LIKE '%") +
           DoubleQuotes(text) + QStringLiteral("%') ") + QStringLiteral("AND (T_user_fak.QTL_login ='") +
           DoubleQuotes(login) + QStringLiteral("') ") + QStringLiteral("ORDER BY dbo.s_fio.s_fio");
}

QString registrationsOf(const QString& studentId) {
    return QStringLiteral(
               "SELECT   dbo.DisciplineForStudent.id_disciplineForStudent, dbo.DisciplineForStudent.id_student, "
               "dbo.DisciplineForStudent.id_semester, dbo.semester.p43, dbo.DisciplineForStudent.id_discipline, "
               "dbo.discipline.p34, dbo.DisciplineForStudent.kredits, dbo.DisciplineForStudent.subgroup, "
               "dbo.DisciplineForStudent.id_examination, dbo.examination.p30, dbo.DisciplineForStudent.id_teacher, "
               "dbo.t_fio.s_t_fio FROM dbo.DisciplineForStudent INNER JOIN dbo.semester ON "
               "dbo.DisciplineForStudent.id_semester = dbo.semester.id_semester INNER JOIN dbo.discipline ON "
               "dbo.DisciplineForStudent.id_discipline = dbo.discipline.id_discipline INNER JOIN dbo.examination ON "
               "dbo.DisciplineForStudent.id_examination = dbo.examination.id_examination INNER JOIN dbo.t_fio ON "
               "dbo.DisciplineForStudent.id_teacher = dbo.t_fio.id_teacher WHERE dbo.DisciplineForStudent.id_student "
               "=") +
           studentId + QStringLiteral(" ORDER BY dbo.DisciplineForStudent.id_semester, dbo.discipline.p34");
}

QString registrationRow(const QString& registrationId) {
    return QStringLiteral(
               "SELECT TOP (1) id_disciplineForStudent FROM dbo.DisciplineForStudent "
               "WHERE id_disciplineForStudent =") +
           registrationId;
}

}  // namespace statements
}  // namespace qtl
