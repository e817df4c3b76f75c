#include "dm_u.h"

#include "util/util.h"

#include <QHostAddress>
#include <QHostInfo>

namespace qtl {

TDM_MB* DM_MB = nullptr;
SignIn g_signIn;

// --- IdIPWatch1 ----------------------------------------------------------------------------------

QString IpWatch::hostName() const {
    return QHostInfo::localHostName().left(255);
}

QString IpWatch::localIP() const {
    const QHostInfo info = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress& a : info.addresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol) return a.toString();
    return QStringLiteral("127.0.0.1");
}

// --- the module ----------------------------------------------------------------------------------

TDM_MB::TDM_MB(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("DM_MB"));
    ADOCon = new Connection(this);
    ADOCon->setObjectName(QStringLiteral("ADOCon"));

    const auto query = [this](const char* name) { return new Query(ADOCon, QString::fromLatin1(name), this); };
    ADOQ_Faculty = query("ADOQ_Faculty");
    ADOQ_Kafedra = query("ADOQ_Kafedra");
    ADOQ_Semester = query("ADOQ_Semester");
    ADOQ_Year = query("ADOQ_Year");
    ADOQ_Teacher = query("ADOQ_Teacher");
    ADOQ_SelectDisciplineForStudent = query("ADOQ_SelectDisciplineForStudent");
    ADOQ_group = query("ADOQ_group");
    ADOQ_Exec = query("ADOQ_Exec");
    ADOQ_Examination = query("ADOQ_Examination");
    ADOQ_Teacher2 = query("ADOQ_Teacher2");
    ADOQ_W_S = query("ADOQ_W_S");
    ADOQ_Year2 = query("ADOQ_Year2");
    ADOQ_Semester2 = query("ADOQ_Semester2");
    ADOQ_SubGroup = query("ADOQ_SubGroup");
    ADOQ_SubGroup2 = query("ADOQ_SubGroup2");
    ADOQ_SubGroup3 = query("ADOQ_SubGroup3");
    ADOQ_DATE_reg_DFS = query("ADOQ_DATE_reg_DFS");
    ADOQ_group_educ = query("ADOQ_group_educ");
    ADOQ_SGM = query("ADOQ_SGM");
    ADOQ_V_DFS = query("ADOQ_V_DFS");
    ADOQ_TEMP = query("ADOQ_TEMP");
    setUpQueries();
    createSources();

    IdIPWatch1 = new IpWatch(this);
    IdIPWatch1->setObjectName(QStringLiteral("IdIPWatch1"));
}

// The statements and persistent fields the queries keep for the whole session; the others get
// their text from the windows at each use.
void TDM_MB::setUpQueries() {
    ADOQ_Kafedra->setSqlLines({
        QStringLiteral("SELECT     dbo.kafedra.f1 AS kafedra, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year"),
        QStringLiteral("FROM         dbo.kafedra INNER JOIN"),
        QStringLiteral("                      dbo.RRNKkrdt ON dbo.kafedra.id_kafedra = dbo.RRNKkrdt.id_kafedra"),
        QStringLiteral("GROUP BY dbo.kafedra.f1, dbo.kafedra.id_kafedra, dbo.RRNKkrdt.id_a_year"),
        QStringLiteral("HAVING      (dbo.RRNKkrdt.id_a_year = :id_a_year)"),
        QStringLiteral("ORDER BY kafedra"),
    });
    ADOQ_Kafedra->declareIntegerParam(QStringLiteral("id_a_year"));

    ADOQ_Year->setSqlLines({
        QStringLiteral("SELECT DISTINCT [id_a_year], [year]"),
        QStringLiteral("  FROM VSelForKPV"),
        QStringLiteral("where id_a_year>10"),
        QStringLiteral("ORDER BY [year]"),
    });

    ADOQ_W_S->setSql(QStringLiteral("SELECT * FROM w_s"));

    ADOQ_Year2->setSqlLines({
        QStringLiteral("SELECT DISTINCT educ_sh.id_a_year, a_year.p32"),
        QStringLiteral("  FROM educ_sh, a_year"),
        QStringLiteral("WHERE educ_sh.id_a_year = a_year.id_a_year"),
        QStringLiteral("ORDER BY a_year.p32"),
    });

    ADOQ_Semester2->setSqlLines({
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
    });
    ADOQ_Semester2->declareIntegerParam(QStringLiteral("id_a_year"));

    ADOQ_SubGroup->setSqlLines({
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
    });

    const QStringList subGroupNumbers = {
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
    ADOQ_SubGroup2->setSqlLines(subGroupNumbers);
    ADOQ_SubGroup3->setSqlLines(subGroupNumbers);

    const QVector<PersistentField> teacherFields = {
        {QStringLiteral("id_teacher"), FieldKind::Integer, 0},
        {QStringLiteral("t_fio"), FieldKind::String, 100},
    };
    ADOQ_Teacher->setPersistentFields(teacherFields);
    ADOQ_Teacher2->setPersistentFields(teacherFields);
    ADOQ_SGM->setPersistentFields({
        {QStringLiteral("id_student"), FieldKind::Integer, 0},
        {QStringLiteral("s_fio"), FieldKind::String, 250},
        {QStringLiteral("id_group"), FieldKind::Integer, 0},
        {QStringLiteral("p20"), FieldKind::String, 150},
    });
    ADOQ_V_DFS->setPersistentFields({
        {QStringLiteral("id_disciplineForStudent"), FieldKind::Integer, 0},
        {QStringLiteral("id_student"), FieldKind::Integer, 0},
        {QStringLiteral("id_semester"), FieldKind::Integer, 0},
        {QStringLiteral("p43"), FieldKind::String, 100},
        {QStringLiteral("id_discipline"), FieldKind::Integer, 0},
        {QStringLiteral("p34"), FieldKind::String, 255},
        {QStringLiteral("kredits"), FieldKind::Integer, 0},
        {QStringLiteral("subgroup"), FieldKind::Integer, 0},
        {QStringLiteral("id_examination"), FieldKind::Integer, 0},
        {QStringLiteral("p30"), FieldKind::String, 100},
        {QStringLiteral("id_teacher"), FieldKind::Integer, 0},
        {QStringLiteral("s_t_fio"), FieldKind::String, 255},
    });
    ADOQ_TEMP->setUpdateTarget(QStringLiteral("DisciplineForStudent"), QStringLiteral("id_disciplineForStudent"));
}

void TDM_MB::createSources() {
    const auto source = [this](Query* q, const char* name) {
        return new ListSource(q, QString::fromLatin1(name), this);
    };
    DS_Faculty = source(ADOQ_Faculty, "DS_Faculty");
    DS_Year = source(ADOQ_Year, "DS_Year");
    DS_Kafedra = source(ADOQ_Kafedra, "DS_Kafedra");
    DS_Teacher = source(ADOQ_Teacher, "DS_Teacher");
    DS_Semester = source(ADOQ_Semester, "DS_Semester");
    DS_SelectDisciplineForStudent = source(ADOQ_SelectDisciplineForStudent, "DS_SelectDisciplineForStudent");
    DS_Examination = source(ADOQ_Examination, "DS_Examination");
    DS_group = source(ADOQ_group, "DS_group");
    DS_W_S = source(ADOQ_W_S, "DS_W_S");
    DS_SubGroup = source(ADOQ_SubGroup, "DS_SubGroup");
    DS_SubGroup3 = source(ADOQ_SubGroup3, "DS_SubGroup3");
    DS_Teacher2 = source(ADOQ_Teacher2, "DS_Teacher2");
    DS_Year2 = source(ADOQ_Year2, "DS_Year2");
    DS_Semester2 = source(ADOQ_Semester2, "DS_Semester2");
    DS_SubGroup2 = source(ADOQ_SubGroup2, "DS_SubGroup2");
    DS_SGM = source(ADOQ_SGM, "DS_SGM");
    DS_V_DFS = source(ADOQ_V_DFS, "DS_V_DFS");
}

// --- atomic batches ------------------------------------------------------------------------------

QStringList TDM_MB::AtomicBatch(const QStringList& statements) {
    // XACT_ABORT makes a run-time error roll the whole transaction back; it is switched off
    // again at the end so later statements keep the session's ordinary error rules.
    QStringList lines{QStringLiteral("SET XACT_ABORT ON"), QStringLiteral("BEGIN TRAN")};
    lines << statements;
    lines << QStringLiteral("COMMIT TRAN") << QStringLiteral("SET XACT_ABORT OFF");
    return lines;
}

QStringList TDM_MB::EndTransactionBatch() {
    return {QStringLiteral("IF @@TRANCOUNT > 0 ROLLBACK TRAN"), QStringLiteral("SET XACT_ABORT OFF")};
}

void TDM_MB::ExecAtomic(const QStringList& statements) {
    ADOQ_Exec->close();
    ADOQ_Exec->setSqlLines(AtomicBatch(statements));
    try {
        ADOQ_Exec->execute();
    } catch (const DatabaseError& e) {
        // A lost link has closed the session, and the server rolls its transaction back.
        if (e.connectionLost()) throw;
        try {
            ADOQ_Exec->close();
            ADOQ_Exec->setSqlLines(EndTransactionBatch());
            ADOQ_Exec->execute();
        } catch (const DatabaseError& cleanup) {
            ADOCon->close();
            throw DatabaseError(e.text() + QChar(13) + cleanup.text(), true);
        }
        throw;
    }
}

// --- deletion audit log --------------------------------------------------------------------------

QString TDM_MB::DescribePairs(const QVector<TKeyValue>& pairs) {
    QString description;
    for (const TKeyValue& p : pairs) description += p.Key + QLatin1Char('[') + p.Value + QStringLiteral("], ");
    description.chop(2);  // the final ", "; nothing to remove when there was no pair
    return description;
}

QString TDM_MB::LogRecordStatement(const QString& description, const QString& tableName, const QString& rowId,
                                   const QString& login, const QString& comp) {
    const QString descr = QStringLiteral("Запись с уникальным номером - ") + QLatin1Char('\'') + rowId +
                          QLatin1Char('\'') + QStringLiteral(" была удалена - (") + description + QStringLiteral(").");
    return QStringLiteral("INSERT INTO QTL_LOG([table], [row_id], [descr], [QTL_User], [comp]) VALUES(") +
           WrapInQuotes(tableName) + QStringLiteral(", ") + rowId + QStringLiteral(", ") + WrapInQuotes(descr) +
           QStringLiteral(", ") + WrapInQuotes(login) + QStringLiteral(", ") + WrapInQuotes(comp) + QStringLiteral(")");
}

QStringList TDM_MB::AuditedDeletion(const QString& deletion, const QString& description, const QString& tableName,
                                    int rowId, const QString& login, const QString& comp) {
    return {deletion, LogRecordStatement(description, tableName, QString::number(rowId), login, comp)};
}

void TDM_MB::DeleteWithAudit(const QString& deletion, const QVector<TKeyValue>& pairs, const QString& tableName,
                             int rowId) {
    const QString description = DescribePairs(pairs);
    const QString comp = g_signIn.ComputerName + QLatin1Char('\\') + IdIPWatch1->localIP();
    ExecAtomic(AuditedDeletion(deletion, description, tableName, rowId, g_signIn.CurrentLogin, comp));
}

}  // namespace qtl
