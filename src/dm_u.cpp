#include "dm_u.h"

#include "statements/Statements.h"

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
    ADOQ_Kafedra->setSqlLines(statements::departmentsOfYear());
    ADOQ_Kafedra->declareIntegerParam(QStringLiteral("id_a_year"));
    ADOQ_Year->setSqlLines(statements::years());
    ADOQ_W_S->setSql(statements::allTermKinds());
    ADOQ_Year2->setSqlLines(statements::registrationYears());
    ADOQ_Semester2->setSqlLines(statements::semestersOfGroup());
    ADOQ_Semester2->declareIntegerParam(QStringLiteral("id_a_year"));
    ADOQ_SubGroup->setSqlLines(statements::namedStreams());
    ADOQ_SubGroup2->setSqlLines(statements::streamNumbers());
    ADOQ_SubGroup3->setSqlLines(statements::streamNumbers());

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

// --- after the login ------------------------------------------------------------------------------

void TDM_MB::LoadForMainWindow() {
    ADOQ_Faculty->setSql(statements::faculties(g_signIn.CurrentUserId));
    ADOQ_Faculty->open();
    ADOQ_W_S->open();
    ADOQ_Exec->close();
    ADOQ_Exec->setSql(statements::creditLimitOz0());
    ADOQ_Exec->open();
    g_signIn.CreditLimitForOz0 = ADOQ_Exec->fieldAsInt(QStringLiteral("id_field"));
    ADOQ_Exec->close();
    ADOQ_Exec->setSql(statements::creditLimitOz1());
    ADOQ_Exec->open();
    g_signIn.CreditLimitForOz1 = ADOQ_Exec->fieldAsInt(QStringLiteral("id_field"));
    ADOQ_Year2->open();
}

// --- atomic batches ------------------------------------------------------------------------------

void TDM_MB::ExecAtomic(const QStringList& statements) {
    ADOQ_Exec->close();
    ADOQ_Exec->setSqlLines(statements::atomicBatch(statements));
    try {
        ADOQ_Exec->execute();
    } catch (const DatabaseError& e) {
        // A lost link has closed the session, and the server rolls its transaction back.
        if (e.connectionLost()) throw;
        try {
            ADOQ_Exec->close();
            ADOQ_Exec->setSqlLines(statements::endTransaction());
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

void TDM_MB::DeleteWithAudit(const QString& deletion, const QVector<TKeyValue>& pairs, const QString& tableName,
                             int rowId) {
    const QString description = DescribePairs(pairs);
    const QString comp = g_signIn.ComputerName + QLatin1Char('\\') + IdIPWatch1->localIP();
    ExecAtomic(statements::auditedDeletion(deletion, description, tableName, rowId, g_signIn.CurrentLogin, comp));
}

}  // namespace qtl
