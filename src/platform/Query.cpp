#include "platform/Query.h"

#include "statements/Statements.h"
#include "util/util.h"

#include <QLocale>

#include <cmath>

namespace qtl {

namespace {

struct ParamRef {
    qsizetype pos;  // of the colon
    qsizetype len;  // colon and name
    QString name;
};

bool isNameChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// ':name' occurrences outside quoted texts ('...', "...") and bracketed names. '::' is no
// parameter.
QVector<ParamRef> scanParams(const QString& text) {
    QVector<ParamRef> refs;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote) quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('[')) {
            quote = QLatin1Char(']');
        } else if (c == QLatin1Char(':')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char(':')) {
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < text.size() && isNameChar(text[j])) ++j;
            if (j > i + 1) {
                refs.push_back({i, j - i, text.mid(i + 1, j - i - 1)});
                i = j - 1;
            }
        }
    }
    return refs;
}

bool isIntegerType(int id) {
    switch (id) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Char: return true;
    default: return false;
    }
}

bool isNumberType(int id) {
    return isIntegerType(id) || id == QMetaType::Double || id == QMetaType::Float;
}

QString doubleText(double d) {
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e18) return QString::number(qint64(d));
    return QLocale::c().toString(d, 'g', QLocale::FloatingPointShortest);
}

bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull()) return a.isNull() && b.isNull();
    const int ta = a.metaType().id(), tb = b.metaType().id();
    if (isNumberType(ta) && isNumberType(tb)) {
        if (isIntegerType(ta) && isIntegerType(tb)) return a.toLongLong() == b.toLongLong();
        return a.toDouble() == b.toDouble();
    }
    if (isNumberType(ta) != isNumberType(tb)) {
        // A number held as text (a key read from a text column) still finds its row.
        const QVariant& num = isNumberType(ta) ? a : b;
        const QVariant& other = isNumberType(ta) ? b : a;
        bool ok = false;
        const double d = other.toString().trimmed().toDouble(&ok);
        return ok && d == num.toDouble();
    }
    return Query::asText(a) == Query::asText(b);
}

QString kindName(int typeId) {
    if (isIntegerType(typeId)) return QStringLiteral("Integer");
    switch (typeId) {
    case QMetaType::QString: return QStringLiteral("String");
    case QMetaType::Double:
    case QMetaType::Float: return QStringLiteral("Float");
    case QMetaType::Bool: return QStringLiteral("Boolean");
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime: return QStringLiteral("DateTime");
    default: return QString::fromLatin1(QMetaType(typeId).name());
    }
}

}  // namespace

Query::Query(Connection* connection, const QString& name, QObject* parent) : QObject(parent), m_connection(connection) {
    setObjectName(name);
}

// --- SQL text ----------------------------------------------------------------------------------

void Query::setSql(const QString& line) {
    setSqlLines(QStringList{line});
}

void Query::assertNotHeld() const {
    Q_ASSERT_X(m_holds == 0, qPrintable(objectName()), "reused while its holder reads it");
}

void Query::setSqlLines(const QStringList& lines) {
    assertNotHeld();
    close();
    m_lines = lines;
    deriveParams();
}

void Query::addLine(const QString& line) {
    assertNotHeld();
    close();
    m_lines << line;
    deriveParams();
}

QString Query::sqlText() const {
    QString text;
    for (const QString& line : m_lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

void Query::deriveParams() {
    QVector<Param> derived;
    for (const ParamRef& ref : scanParams(sqlText())) {
        bool seen = false;
        for (const Param& p : derived)
            if (p.name.compare(ref.name, Qt::CaseInsensitive) == 0) seen = true;
        if (seen) continue;
        Param p{ref.name, false, QVariant()};
        // A parameter that stays in the text keeps its declaration and value.
        for (const Param& old : m_params)
            if (old.name.compare(ref.name, Qt::CaseInsensitive) == 0) p = old;
        derived.push_back(p);
    }
    m_params = derived;
}

QStringList Query::parameterNames() const {
    QStringList names;
    for (const Param& p : m_params) names << p.name;
    return names;
}

void Query::declareIntegerParam(const QString& name) {
    for (Param& p : m_params)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0) {
            p.declaredInt = true;
            return;
        }
    throw AppError(objectName() + QStringLiteral(": Parameter '") + name + QStringLiteral("' not found"));
}

void Query::setParam(const QString& name, const QVariant& value) {
    for (Param& p : m_params)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0) {
            p.value = value;
            return;
        }
    throw AppError(objectName() + QStringLiteral(": Parameter '") + name + QStringLiteral("' not found"));
}

QVariant Query::param(const QString& name) const {
    for (const Param& p : m_params)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0) return p.value;
    return {};
}

QString Query::literal(const Param& p) const {
    const QVariant& v = p.value;
    if (v.isNull() || !v.isValid()) return QStringLiteral("NULL");
    const int type = v.metaType().id();
    if (p.declaredInt) {
        if (isIntegerType(type)) return QString::number(v.toLongLong());
        if (type == QMetaType::Bool) return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        if (type == QMetaType::Double || type == QMetaType::Float) {
            const double d = v.toDouble();
            if (d != std::floor(d) || std::fabs(d) > 2147483647.0)
                throw ConversionError(QLatin1Char('\'') + doubleText(d) +
                                      QStringLiteral("' is not a valid integer value"));
            return QString::number(qint64(d));
        }
        return QString::number(StrToInt(v.toString()));
    }
    if (isIntegerType(type)) return QString::number(v.toLongLong());
    switch (type) {
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
    case QMetaType::Float: return doubleText(v.toDouble());
    case QMetaType::QDateTime:
        return QStringLiteral("'") + v.toDateTime().toString(QStringLiteral("yyyyMMdd HH:mm:ss.zzz")) +
               QStringLiteral("'");
    case QMetaType::QDate:
        return QStringLiteral("'") + v.toDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("'");
    case QMetaType::QByteArray: return QStringLiteral("0x") + QString::fromLatin1(v.toByteArray().toHex());
    default: return QStringLiteral("N") + WrapInQuotes(v.toString());
    }
}

QString Query::expandedSql() const {
    QString text = sqlText();
    const QVector<ParamRef> refs = scanParams(text);
    if (refs.isEmpty()) return text;
    QString out;
    qsizetype from = 0;
    for (const ParamRef& ref : refs) {
        out += QStringView(text).mid(from, ref.pos - from);
        for (const Param& p : m_params)
            if (p.name.compare(ref.name, Qt::CaseInsensitive) == 0) {
                out += literal(p);
                break;
            }
        from = ref.pos + ref.len;
    }
    out += QStringView(text).mid(from);
    return out;
}

void Query::setPersistentFields(const QVector<PersistentField>& fields) {
    close();
    m_persistent = fields;
}

// --- state ---------------------------------------------------------------------------------------

void Query::open() {
    assertNotHeld();
    if (m_open) return;
    ResultData r = m_connection->run(expandedSql(), true);
    if (!m_persistent.isEmpty()) {
        // Only the persistent fields are visible, in their own order; each must be there with
        // its kind.
        QVector<int> map;
        QVector<QMetaType> types;
        QStringList names;
        for (const PersistentField& f : m_persistent) {
            int idx = -1;
            for (int i = 0; i < r.columns.size(); ++i)
                if (r.columns[i].compare(f.name, Qt::CaseInsensitive) == 0) {
                    idx = i;
                    break;
                }
            if (idx < 0)
                throw AppError(objectName() + QStringLiteral(": Field '") + f.name + QStringLiteral("' not found"));
            const int type = r.types[idx].id();
            const bool fits = f.kind == FieldKind::Integer ? isIntegerType(type) : type == QMetaType::QString;
            if (!fits)
                throw AppError(objectName() + QStringLiteral(": Field '") + f.name + QStringLiteral("' is of type ") +
                               kindName(type) + QStringLiteral(", expected ") +
                               (f.kind == FieldKind::Integer ? QStringLiteral("Integer") : QStringLiteral("String")));
            map << idx;
            types << r.types[idx];
            names << f.name;
        }
        for (auto& row : r.rows) {
            QVector<QVariant> projected;
            projected.reserve(map.size());
            for (int idx : map) projected << row[idx];
            row = std::move(projected);
        }
        r.columns = names;
        r.types = types;
    }
    m_columns = r.columns;
    m_types = r.types;
    m_rows = std::move(r.rows);
    m_open = true;
    m_current = m_rows.isEmpty() ? -1 : 0;
    m_eof = m_rows.isEmpty();
    emit opened();
    emit currentChanged(m_current);
}

void Query::execute() {
    assertNotHeld();
    m_connection->run(expandedSql(), false);
}

void Query::close() {
    assertNotHeld();
    if (!m_open) return;
    m_open = false;
    m_rows.clear();
    m_columns.clear();
    m_types.clear();
    m_current = -1;
    m_eof = true;
    emit closed();
}

void Query::setCurrentRow(int row) {
    if (!m_open || row < 0 || row >= m_rows.size()) return;
    m_eof = false;
    if (row == m_current) return;
    m_current = row;
    emit currentChanged(row);
}

void Query::first() {
    if (!m_open || m_rows.isEmpty()) {
        m_eof = true;
        return;
    }
    setCurrentRow(0);
}

void Query::next() {
    if (!m_open || m_rows.isEmpty()) {
        m_eof = true;
        return;
    }
    if (m_current + 1 < m_rows.size())
        setCurrentRow(m_current + 1);
    else
        m_eof = true;
}

bool Query::eof() const {
    return !m_open || m_rows.isEmpty() || m_eof;
}

int Query::findRow(const QString& column, const QVariant& value) const {
    const int c = columnIndex(column);
    if (!m_open) return -1;
    if (c < 0) throw AppError(objectName() + QStringLiteral(": Field '") + column + QStringLiteral("' not found"));
    for (int r = 0; r < m_rows.size(); ++r)
        if (sameValue(m_rows[r][c], value)) return r;
    return -1;
}

bool Query::locate(const QString& column, const QVariant& value) {
    const int row = findRow(column, value);
    if (row < 0) return false;
    setCurrentRow(row);
    return true;
}

void Query::setUpdateTarget(const QString& table, const QString& keyColumn) {
    m_updateTable = table;
    m_updateKey = keyColumn;
}

void Query::deleteCurrentRow() {
    if (!m_open || m_current < 0) throw AppError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    if (m_updateTable.isEmpty() || m_updateKey.isEmpty())
        throw AppError(objectName() + QStringLiteral(": no table to delete from"));
    const QVariant key = fieldValue(m_updateKey);
    Param keyParam{m_updateKey, false, key};
    const QString sql = statements::deleteRow(m_updateTable, m_updateKey, literal(keyParam));
    const ResultData r = m_connection->run(sql, false);
    if (r.rowsAffected == 0)
        throw AppError(objectName() + QStringLiteral(": the row to delete no longer exists on the server"));
    m_rows.removeAt(m_current);
    if (m_rows.isEmpty()) {
        m_current = -1;
        m_eof = true;
    } else if (m_current >= m_rows.size()) {
        m_current = int(m_rows.size()) - 1;
    }
    emit currentChanged(m_current);
}

// --- fields --------------------------------------------------------------------------------------

int Query::columnIndex(const QString& name) const {
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

bool Query::hasField(const QString& name) const {
    if (m_open) return columnIndex(name) >= 0;
    for (const PersistentField& f : m_persistent)
        if (f.name.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QVariant Query::fieldValue(const QString& name) const {
    if (!m_open) {
        if (!m_persistent.isEmpty() && !hasField(name))
            throw AppError(objectName() + QStringLiteral(": Field '") + name + QStringLiteral("' not found"));
        return {};
    }
    const int c = columnIndex(name);
    if (c < 0) throw AppError(objectName() + QStringLiteral(": Field '") + name + QStringLiteral("' not found"));
    if (m_current < 0) return {};
    return m_rows[m_current][c];
}

QString Query::fieldAsString(const QString& name) const {
    return asText(fieldValue(name));
}

int Query::fieldAsInt(const QString& name) const {
    const QVariant v = fieldValue(name);
    if (v.isNull()) return 0;
    const int type = v.metaType().id();
    if (isIntegerType(type) || type == QMetaType::Bool) return v.toInt();
    if (type == QMetaType::Double || type == QMetaType::Float) return int(std::lround(v.toDouble()));
    return StrToInt(v.toString());
}

bool Query::fieldAsBool(const QString& name) const {
    const QVariant v = fieldValue(name);
    if (v.isNull()) return false;
    const int type = v.metaType().id();
    if (type == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("true") || s == QLatin1String("t") || s == QLatin1String("1")) return true;
        if (s == QLatin1String("false") || s == QLatin1String("f") || s == QLatin1String("0") || s.isEmpty())
            return false;
        throw ConversionError(QLatin1Char('\'') + v.toString() + QStringLiteral("' is not a valid boolean value"));
    }
    if (type == QMetaType::Double || type == QMetaType::Float) return v.toDouble() != 0.0;
    return v.toLongLong() != 0 || v.toBool();
}

QDateTime Query::fieldAsDateTime(const QString& name) const {
    const QVariant v = fieldValue(name);
    if (v.isNull()) return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
    return v.toDateTime();
}

QVariant Query::valueAt(int row, const QString& name) const {
    const int c = columnIndex(name);
    if (c < 0) {
        if (!m_open) return {};
        throw AppError(objectName() + QStringLiteral(": Field '") + name + QStringLiteral("' not found"));
    }
    return valueAt(row, c);
}

QVariant Query::valueAt(int row, int column) const {
    if (!m_open || row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size()) return {};
    return m_rows[row][column];
}

QVariant Query::fieldValue(int column) const {
    if (!m_open) return {};
    if (column < 0 || column >= m_columns.size())
        throw AppError(objectName() + QStringLiteral(": Field index out of range"));
    if (m_current < 0) return {};
    return m_rows[m_current][column];
}

int Query::columnCount() const {
    return m_open ? int(m_columns.size()) : 0;
}

QString Query::asText(const QVariant& value) {
    if (value.isNull() || !value.isValid()) return QString();
    const int type = value.metaType().id();
    if (isIntegerType(type)) return QString::number(value.toLongLong());
    switch (type) {
    // Numbers are written with '.', whatever the locale: the text goes into statements.
    case QMetaType::Double:
    case QMetaType::Float: return doubleText(value.toDouble());
    case QMetaType::QDateTime: return BuildDateText(value.toDateTime());
    default: return value.toString();
    }
}

}  // namespace qtl
