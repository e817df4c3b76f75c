// A named query: SQL text as lines, :name parameters, the whole result held on the client with
// one current row. Parameter values are written into the text as literals, so the wire traffic
// stays a plain SQL batch.
#pragma once

#include "platform/Connection.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace qtl {

enum class FieldKind { Integer, String };

struct PersistentField {
    QString name;
    FieldKind kind = FieldKind::String;
    int size = 0;  // String only
};

class Query : public QObject {
    Q_OBJECT
public:
    Query(Connection* connection, const QString& name, QObject* parent = nullptr);

    QString name() const { return objectName(); }

    // While a Hold lives, its holder is reading the query's rows across calls to other code: none
    // of that code may give the query new text, open, execute or close it (a scratch query is
    // not reused while open). Checked in debug builds.
    class Hold {
    public:
        explicit Hold(Query* query) : m_query(query) { ++m_query->m_holds; }
        ~Hold() { --m_query->m_holds; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        Query* m_query;
    };
    Connection* connection() const { return m_connection; }

    // --- SQL text
    void setSql(const QString& line);  // one line; closes first
    void setSqlLines(const QStringList& lines);  // closes first
    void addLine(const QString& line);  // closes first
    QStringList sqlLines() const { return m_lines; }
    // The text as sent: every line followed by CR LF.
    QString sqlText() const;
    // The text with parameter values written in as literals.
    QString expandedSql() const;

    // --- parameters (derived from the text whenever it changes; ':name' outside quotes)
    QStringList parameterNames() const;
    void declareIntegerParam(const QString& name);  // declared 32-bit integer
    void setParam(const QString& name, const QVariant& value);  // null QVariant = NULL
    QVariant param(const QString& name) const;

    // --- persistent fields: the result must hold these columns with these kinds, and only
    // they are visible.
    void setPersistentFields(const QVector<PersistentField>& fields);

    // --- state
    void open();  // does nothing when open; sends, fetches all rows, first row current
    void execute();  // sends the text, no result expected
    void close();  // drops the result; nothing when closed
    bool isOpen() const { return m_open; }

    int recordCount() const { return m_open ? int(m_rows.size()) : 0; }
    bool isEmpty() const { return recordCount() == 0; }
    int currentRow() const { return m_current; }  // -1 when closed or empty
    void setCurrentRow(int row);  // emits currentChanged when it moves
    void first();
    void next();
    bool eof() const;  // past the last row (or empty/closed)

    // First row whose column equals `value` becomes current; false (row unchanged) when none.
    bool locate(const QString& column, const QVariant& value);
    // Row index of the first row whose column equals `value`, or -1.
    int findRow(const QString& column, const QVariant& value) const;

    // Removes the current row on the server: "DELETE FROM <table> WHERE <key> = <value>" of the
    // table/key set with setUpdateTarget. On an empty result throws "Cannot perform this
    // operation on an empty dataset"; when the server deleted nothing, throws as well.
    void setUpdateTarget(const QString& table, const QString& keyColumn);
    void deleteCurrentRow();

    // --- fields of the current row (closed or empty result: null readings)
    bool hasField(const QString& name) const;
    QVariant fieldValue(const QString& name) const;  // throws AppError when no such column
    QString fieldAsString(const QString& name) const;  // null -> ""
    int fieldAsInt(const QString& name) const;  // null -> 0; text converted strictly
    bool fieldAsBool(const QString& name) const;  // null -> false
    QDateTime fieldAsDateTime(const QString& name) const;  // null -> 1899-12-30 00:00
    QVariant valueAt(int row, const QString& name) const;
    QVariant valueAt(int row, int column) const;
    // By position (the login reads GET_USER's row this way)
    QVariant fieldValue(int column) const;
    int columnCount() const;

    // Text of a value as the workstation writes it into statements: integers in decimal,
    // texts as they are, null as empty text.
    static QString asText(const QVariant& value);

signals:
    void opened();
    void closed();
    void currentChanged(int row);

private:
    Connection* m_connection;
    QStringList m_lines;
    struct Param {
        QString name;
        bool declaredInt = false;
        QVariant value;
    };
    QVector<Param> m_params;
    QVector<PersistentField> m_persistent;
    bool m_open = false;
    int m_holds = 0;  // Holds alive
    void assertNotHeld() const;
    QStringList m_columns;
    QVector<QMetaType> m_types;
    QVector<QVector<QVariant>> m_rows;
    int m_current = -1;
    bool m_eof = true;
    QString m_updateTable, m_updateKey;

    void deriveParams();
    QString literal(const Param& p) const;
    int columnIndex(const QString& name) const;  // -1 when absent (persistent fields respected)
};

// Exposes one query to selectors and grids (they listen to the query's signals).
class ListSource : public QObject {
    Q_OBJECT
public:
    ListSource(Query* query, const QString& name, QObject* parent = nullptr) : QObject(parent), m_query(query) {
        setObjectName(name);
    }
    Query* query() const { return m_query; }

    // The selector that set or picked last: when the query reopens, its key decides the
    // current row (the others only look up their own rows for display).
    QObject* lastSelector() const { return m_lastSelector.data(); }
    void setLastSelector(QObject* selector) { m_lastSelector = selector; }

private:
    Query* m_query;
    QPointer<QObject> m_lastSelector;
};

}  // namespace qtl
