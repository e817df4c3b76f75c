// The data module: the one connection, the named queries and their list sources, and the
// deletion audit log.
#pragma once

#include "platform/Connection.h"
#include "platform/Query.h"
#include "statements/Statements.h"

#include <QObject>
#include <QString>
#include <QVector>

namespace qtl {

// The first IPv4 address of the computer's own name, as dotted-decimal text.
class IpWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    QString localIP() const;
    QString hostName() const;  // the local computer's name (at most 255 characters)
};

class TDM_MB : public QObject {
    Q_OBJECT
public:
    explicit TDM_MB(QObject* parent = nullptr);

    Connection* ADOCon;

    // The twenty-one queries, in catalogue order.
    Query* ADOQ_Faculty;
    Query* ADOQ_Kafedra;
    Query* ADOQ_Semester;
    Query* ADOQ_Year;
    Query* ADOQ_Teacher;
    Query* ADOQ_SelectDisciplineForStudent;
    Query* ADOQ_group;
    Query* ADOQ_Exec;
    Query* ADOQ_Examination;
    Query* ADOQ_Teacher2;
    Query* ADOQ_W_S;
    Query* ADOQ_Year2;
    Query* ADOQ_Semester2;
    Query* ADOQ_SubGroup;
    Query* ADOQ_SubGroup2;
    Query* ADOQ_SubGroup3;
    Query* ADOQ_DATE_reg_DFS;
    Query* ADOQ_group_educ;
    Query* ADOQ_SGM;
    Query* ADOQ_V_DFS;
    Query* ADOQ_TEMP;

    // The seventeen list sources.
    ListSource* DS_Faculty;
    ListSource* DS_Year;
    ListSource* DS_Kafedra;
    ListSource* DS_Teacher;
    ListSource* DS_Semester;
    ListSource* DS_SelectDisciplineForStudent;
    ListSource* DS_Examination;
    ListSource* DS_group;
    ListSource* DS_W_S;
    ListSource* DS_SubGroup;
    ListSource* DS_SubGroup3;
    ListSource* DS_Teacher2;
    ListSource* DS_Year2;
    ListSource* DS_Semester2;
    ListSource* DS_SubGroup2;
    ListSource* DS_SGM;
    ListSource* DS_V_DFS;

    IpWatch* IdIPWatch1;

    // Runs the statements as one batch in one transaction through ADOQ_Exec: all of them or
    // none. When the batch fails and the link still stands, the transaction it may have left
    // open is ended and the session's error rules are restored before the error travels on
    // (a name error, a timeout or a cancel ends a batch with its transaction still open). When
    // that fails too, both texts travel together and the connection is closed, so the server
    // rolls back and the next statement starts on a fresh session.
    void ExecAtomic(const QStringList& statements);

    // What the main window needs of the signed-in operator, loaded once the login has reconnected
    // as him: his faculties, the kinds of term, the two credit limits (into g_signIn) and the
    // years of the transfer frame.
    void LoadForMainWindow();

    // Deletion audit log: deletes one row with `deletion` and writes its audit row into
    // QTL_LOG, both in one ExecAtomic batch, so a deletion never stays without its audit row.
    // `pairs` describe the deleted row; the operator and the computer are the signed-in ones.
    void DeleteWithAudit(const QString& deletion, const QVector<TKeyValue>& pairs, const QString& tableName, int rowId);
    // The description of the deleted row: "Key[Value], Key[Value]".
    static QString DescribePairs(const QVector<TKeyValue>& pairs);

private:
    void setUpQueries();
    void createSources();
};

// Sign-in values, set by the login and only read elsewhere.
struct SignIn {
    QString CurrentLogin;
    int CurrentUserId = 0;
    QString ComputerName;
    int CreditLimitForOz0 = 0;
    int CreditLimitForOz1 = 0;
};

extern TDM_MB* DM_MB;  // created at program start, before the main window
extern SignIn g_signIn;  // the values of the signed-in operator

}  // namespace qtl
