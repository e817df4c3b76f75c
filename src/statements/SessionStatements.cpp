// The statements of the session: the sign-in and what it loads, the data module's standing
// queries, atomic batches and the deletion audit row.
#include "statements/Statements.h"

#include "util/util.h"

namespace qtl::statements {

QString signIn(const QString& login, const QString& password, const QString& newPassword, const QString& ip,
               const QString& computerName) {
    const QString newPasswordArg = newPassword == QLatin1String("NULL")
                                       ? QStringLiteral("NULL")
                                       : QLatin1Char('\'') + Md5Hex(newPassword) + QLatin1Char('\'');
    const QString quotedLogin = DoubleQuotes(login);
    return QStringLiteral("EXEC GET_USER '") + quotedLogin + QStringLiteral("','") + Md5Hex(password) +
           QStringLiteral("',") + newPasswordArg + QStringLiteral(", '") + QLatin1String(kProgramTag) +
           QStringLiteral("', '") + ip + QStringLiteral("', ") + WrapInQuotes(computerName) + QStringLiteral(", '") +
           quotedLogin + QStringLiteral("','0','") + QString::number(newPasswordArg.size()) + QLatin1Char('\'');
}

QString dateFormat() {
    return QStringLiteral("SET DATEFORMAT dmy");
}

QString faculties(int userId) {
    return QStringLiteral(
               "SELECT faculty.id_faculty, faculty.[p23-2] AS [faculty] FROM  faculty "
               "INNER JOIN user_faculty ON faculty.id_faculty = user_faculty.faculty "
               "WHERE user_faculty.id_login = ") +
           QString::number(userId) + QStringLiteral("Order by [p23-2]");
}

// The two differ in their blanks before WHERE, as the server has always received them.
QString creditLimitOz0() {
    return QStringLiteral("SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults]  WHERE id_vuz_defaults=26");
}

QString creditLimitOz1() {
    return QStringLiteral("SELECT [id_field]  FROM [QTL].[dbo].[VuzDefaults] WHERE id_vuz_defaults=27");
}

QString allTermKinds() {
    return QStringLiteral("SELECT * FROM w_s");
}

QStringList departmentsOfYear() {
    return {
        QStringLiteral("SELECT     dbo.kafedra.f1 AS kafedra, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year"),
        QStringLiteral("FROM         dbo.kafedra INNER JOIN"),
        QStringLiteral("                      dbo.RRNKkrdt ON dbo.kafedra.id_kafedra = dbo.RRNKkrdt.id_kafedra"),
        QStringLiteral("GROUP BY dbo.kafedra.f1, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year"),
        QStringLiteral("HAVING      (dbo.RRNKkrdt.id_a_year = :id_a_year)"),
        QStringLiteral("ORDER BY kafedra"),
    };
}

QStringList years() {
    return {
        QStringLiteral("SELECT DISTINCT [id_a_year], [year]"),
        QStringLiteral("  FROM VSelForKPV"),
        QStringLiteral("where id_a_year>10"),
        QStringLiteral("ORDER BY [year]"),
    };
}

QStringList registrationYears() {
    return {
        QStringLiteral("SELECT DISTINCT educ_sh.id_a_year, a_year.p32"),
        QStringLiteral("  FROM educ_sh, a_year"),
        QStringLiteral("WHERE educ_sh.id_a_year = a_year.id_a_year"),
        QStringLiteral("ORDER BY a_year.p32"),
    };
}

QStringList semestersOfGroup() {
    return {
        QStringLiteral("select id_semester, p43 as semester , id_w_s"),
        QStringLiteral("FROM semester"),
        QStringLiteral("where id_w_s = 3"),
        QStringLiteral("union "),
        QStringLiteral("SELECT Semester.id_semester, Semester.p43 as semester, Semester.id_w_s"),
        QStringLiteral("FROM Semester, g_r_y"),
        QStringLiteral("WHERE Semester.id_rate = g_r_y.id_rate AND"),
        QStringLiteral("      g_r_y.id_a_year=:id_a_year AND"),
        QStringLiteral("      g_r_y.id_group=:id_group"),
        QStringLiteral("ORDER BY p43"),
    };
}

QStringList namedStreams() {
    return {
        QStringLiteral(
            "SELECT DISTINCT subgroup,cast(subgroup as varchar) +' - ['+dop_potokname+']' as subgroupAndName"),
        QStringLiteral(" FROM dbo.RRNKkrdt LEFT OUTER JOIN"),
        QStringLiteral("                      dbo.educ_sh ON dbo.RRNKkrdt.id_a_year = dbo.educ_sh.id_a_year AND "
                       "dbo.RRNKkrdt.id_discipline = dbo.educ_sh.id_discipline AND "),
        QStringLiteral("                      dbo.RRNKkrdt.id_kafedra = dbo.educ_sh.id_kafedra"),
        QStringLiteral(" WHERE RRNKkrdt.id_a_year=:id_a_year AND"),
        QStringLiteral("       RRNKkrdt.id_kafedra=:id_kafedra AND"),
        QStringLiteral("       RRNKkrdt.id_teacher=:id_teacher AND"),
        QStringLiteral("       RRNKkrdt.id_discipline=:id_discipline AND"),
        QStringLiteral("       RRNKkrdt.id_examination=:id_examination AND"),
        QStringLiteral("       RRNKkrdt.kredit=:kredit AND"),
        QStringLiteral("       RRNKkrdt.id_w_s=:id_w_s AND"),
        QStringLiteral("       RRNKkrdt.prov_reyt>0 AND"),
        QStringLiteral("       ("),
        QStringLiteral("          ((RRNKkrdt.id_vid_zaniatiy = 1) ) OR"),
        QStringLiteral("          ((RRNKkrdt.id_vid_zaniatiy = 2) AND (educ_sh.p53 > 0)) OR"),
        QStringLiteral("          ((RRNKkrdt.id_vid_zaniatiy = 3) AND (educ_sh.p52 > 0)) OR"),
        QStringLiteral("          ((RRNKkrdt.id_vid_zaniatiy = 4) AND (educ_sh.srs > 0))   OR"),
        QStringLiteral("          (RRNKkrdt.id_vid_zaniatiy = 5) OR"),
        QStringLiteral("          (RRNKkrdt.id_vid_zaniatiy = 6)"),
        QStringLiteral("       )"),
    };
}

QStringList streamNumbers() {
    return {
        QStringLiteral("SELECT DISTINCT subgroup"),
        QStringLiteral("  FROM dbo.RRNKkrdt"),
        QStringLiteral(" WHERE id_a_year=:id_a_year AND"),
        QStringLiteral("       id_kafedra=:id_kafedra AND"),
        QStringLiteral("       id_teacher=:id_teacher AND"),
        QStringLiteral("       id_discipline=:id_discipline AND"),
        QStringLiteral("       id_examination=:id_examination AND"),
        QStringLiteral("       id_o_z=:id_o_z AND"),
        QStringLiteral("       id_w_s=:id_w_s"),
    };
}

QStringList atomicBatch(const QStringList& statements) {
    QStringList lines{QStringLiteral("SET XACT_ABORT ON"), QStringLiteral("BEGIN TRAN")};
    lines << statements;
    lines << QStringLiteral("COMMIT TRAN") << QStringLiteral("SET XACT_ABORT OFF");
    return lines;
}

QStringList endTransaction() {
    return {QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRAN"), QStringLiteral("SET XACT_ABORT OFF")};
}

QString auditRecord(const QString& description, const QString& tableName, const QString& rowId, const QString& login,
                    const QString& comp) {
    const QString descr = QStringLiteral("Запись с уникальным номером - ") + QLatin1Char('\'') + rowId +
                          QLatin1Char('\'') + QStringLiteral(" была удалена - (") + description + QStringLiteral(").");
    return QStringLiteral("INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) VALUES(") +
           WrapInQuotes(tableName) + QStringLiteral(", ") + rowId + QStringLiteral(", ") + WrapInQuotes(descr) +
           QStringLiteral(", ") + WrapInQuotes(login) + QStringLiteral(", ") + WrapInQuotes(comp) + QStringLiteral(")");
}

QStringList auditedDeletion(const QString& deletion, const QString& description, const QString& tableName, int rowId,
                            const QString& login, const QString& comp) {
    return {deletion, auditRecord(description, tableName, QString::number(rowId), login, comp)};
}

QString deleteRow(const QString& table, const QString& keyColumn, const QString& keyLiteral) {
    return QStringLiteral("DELETE FROM ") + table + QStringLiteral(" WHERE ") + keyColumn + QStringLiteral(" = ") +
           keyLiteral;
}

}  // namespace qtl::statements
