// The stored procedures and the table-valued function of the QTL database.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace devserver::qtl {
namespace {

using Ints = std::vector<std::optional<std::int64_t>>;
using Texts = std::vector<std::optional<std::string>>;

// One routine of the database: its parameters in order, and its body. A routine takes either
// int arguments or (GET_USER) text arguments, so exactly one of the bodies is set.
struct RoutineDef {
    const char* name;
    std::vector<const char*> params;
    void (*ints)(sqlite3*, const Ints&, StatementOutcome&) = nullptr;
    void (*texts)(sqlite3*, SessionContext&, const Texts&, StatementOutcome&) = nullptr;
};

const std::vector<RoutineDef>& routines();

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "[QTL].[dbo].[X]", "dbo.X", "X" -> "x".
std::string bareName(const std::string& name) {
    std::string s;
    for (char c : name)
        if (c != '[' && c != ']') s.push_back(c);
    const auto dot = s.rfind('.');
    if (dot != std::string::npos) s = s.substr(dot + 1);
    return lower(s);
}

const RoutineDef* findRoutine(const std::string& name) {
    const auto bare = bareName(name);
    for (const auto& d : routines())
        if (lower(d.name) == bare) return &d;
    return nullptr;
}

Message error(std::int32_t number, int state, const std::string& text, const std::string& procedure) {
    Message m = makeMessage(number, 16, text, static_cast<std::uint8_t>(state), procedure);
    m.line = 0;  // raised by the routine itself, not by a line of the caller's batch
    return m;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Converts an argument as SQL Server converts a value passed to an int parameter.
bool toInt(const Value& v, std::optional<std::int64_t>& out) {
    if (std::holds_alternative<std::monostate>(v)) {
        out.reset();
        return true;
    }
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        out = *i;
        return true;
    }
    if (const auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::fabs(*d) > 2147483647.0) return false;
        out = static_cast<std::int64_t>(std::trunc(*d));
        return true;
    }
    const std::string s = trim(std::get<std::string>(v));
    std::int64_t n = 0;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    if (b != e && *b == '+') ++b;
    auto [p, ec] = std::from_chars(b, e, n);
    if (s.empty() || ec != std::errc() || p != e) return false;
    out = n;
    return true;
}

std::optional<std::string> toText(const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) return std::nullopt;
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) {
        std::string s = std::to_string(*d);
        s.erase(s.find_last_not_of('0') + 1);
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    }
    return std::get<std::string>(v);
}

// Matches the call's arguments to the routine's parameters: positional first, then named.
// Returns false (with the error in `out`) on a mismatch.
bool bindArguments(const RoutineDef& def, const std::vector<Argument>& args, std::vector<const Value*>& bound,
                   StatementOutcome& out) {
    bound.assign(def.params.size(), nullptr);
    size_t position = 0;
    bool namedSeen = false;
    for (const auto& a : args) {
        if (a.name.empty()) {
            if (namedSeen) {
                out.messages.push_back(error(
                    sqlerr::NamedParameterFirst, 1,
                    "Must pass parameter number " + std::to_string(position + 1) +
                        " and subsequent parameters as '@name = value'. After the form '@name = value' has been used, "
                        "all subsequent parameters must be passed in the form '@name = value'.",
                    def.name));
                return false;
            }
            if (position >= def.params.size()) {
                out.messages.push_back(error(
                    sqlerr::TooManyArguments, 2,
                    "Procedure or function " + std::string(def.name) + " has too many arguments specified.", def.name));
                return false;
            }
            bound[position++] = &a.value;
            continue;
        }
        namedSeen = true;
        const std::string want = lower(a.name[0] == '@' ? a.name : "@" + a.name);
        size_t k = 0;
        while (k < def.params.size() && lower(def.params[k]) != want) ++k;
        if (k == def.params.size()) {
            out.messages.push_back(error(sqlerr::NotAParameter, 2,
                                         a.name + " is not a parameter for procedure " + def.name + ".", def.name));
            return false;
        }
        if (bound[k]) {
            out.messages.push_back(error(sqlerr::ParameterSuppliedTwice, 1,
                                         "Parameter '" + std::string(def.params[k]) + "' was supplied multiple times.",
                                         def.name));
            return false;
        }
        bound[k] = &a.value;
    }
    for (size_t k = 0; k < def.params.size(); ++k)
        if (!bound[k]) {
            out.messages.push_back(error(sqlerr::ParameterNotSupplied, 4,
                                         "Procedure or function '" + std::string(def.name) + "' expects parameter '" +
                                             def.params[k] + "', which was not supplied.",
                                         def.name));
            return false;
        }
    return true;
}

using P = detail::Stmt::Param;

P param(const std::optional<std::int64_t>& v) {
    return v ? P(*v) : P();
}

// The teacher's disciplines of a year, kind of term and department: one row per distinct
// (discipline, credits), numbered in name order.
void getDisciplines(sqlite3* db, const Ints& a, StatementOutcome& out) {
    detail::Stmt st(
        db,
        "SELECT DISTINCT d.p34, r.id_discipline, r.kredit FROM RRNKkrdt r "
        "JOIN discipline d ON d.id_discipline = r.id_discipline "
        "WHERE r.id_a_year = ? AND r.id_w_s = ? AND r.id_kafedra = ? AND r.id_teacher = ? AND r.prov_reyt > 0 "
        "ORDER BY d.p34, r.id_discipline, r.kredit");
    st.bind({param(a[0]), param(a[1]), param(a[2]), param(a[3])});
    ResultSet rs;
    rs.columns = {{"rowNum", ColType::Int, 0},
                  {"discipline", ColType::NVarChar, 255},
                  {"id_discipline", ColType::Int, 0},
                  {"Krdt", ColType::Int, 0}};
    std::int64_t n = 0;
    while (st.step())
        rs.rows.push_back({++n, std::string(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))),
                           std::int64_t(sqlite3_column_int64(st.get(), 1)),
                           std::int64_t(sqlite3_column_int64(st.get(), 2))});
    out.results.push_back(std::move(rs));
}

// The discipline's number in the plan of the group's speciality and course for that year and
// kind of term; -1 when the plan does not hold it. A plan row with the same form of control wins.
void getDescGroupNum(sqlite3* db, const Ints& a, StatementOutcome& out) {
    detail::Stmt st(
        db,
        "SELECT e.descGroupNum FROM g_s "
        "JOIN g_r_y ON g_r_y.id_group = g_s.id_group AND g_r_y.id_a_year = ?1 "
        "JOIN educ_sh e ON e.id_speciality = g_s.id_speciality AND e.id_a_year = ?1 AND e.id_rate = g_r_y.id_rate "
        "WHERE g_s.id_group = ?4 AND e.id_w_s = ?2 AND e.id_kafedra = ?3 AND e.id_discipline = ?5 "
        "ORDER BY (e.id_examination IS ?6) DESC, e.descGroupNum LIMIT 1");
    st.bind({param(a[0]), param(a[1]), param(a[2]), param(a[3]), param(a[4]), param(a[5])});
    ResultSet rs;
    rs.columns = {{"descGroupNum", ColType::Int, 0}};
    rs.rows.push_back({st.step() ? Value(std::int64_t(sqlite3_column_int64(st.get(), 0))) : Value(std::int64_t(-1))});
    out.results.push_back(std::move(rs));
}

// The students of the group in name order. IsSelected: the student holds a registration for the
// discipline in that registering year and kind of term; IsTeacher: one of those was made by the
// operator @id_user.
void getKpvStudents(sqlite3* db, const std::optional<std::int64_t>& group,
                    const std::optional<std::int64_t>& discipline, const std::optional<std::int64_t>& year,
                    const std::optional<std::int64_t>& ws, const std::optional<std::int64_t>& user,
                    StatementOutcome& out) {
    detail::Stmt st(
        db,
        "SELECT st.id_student, "
        " EXISTS (SELECT 1 FROM DisciplineForStudent d JOIN semester s ON s.id_semester = d.id_ins_semester "
        "         WHERE d.id_student = st.id_student AND d.id_discipline = ?2 AND d.id_ins_year = ?3 AND s.id_w_s = "
        "?4), "
        " EXISTS (SELECT 1 FROM DisciplineForStudent d JOIN semester s ON s.id_semester = d.id_ins_semester "
        "         WHERE d.id_student = st.id_student AND d.id_discipline = ?2 AND d.id_ins_year = ?3 AND s.id_w_s = ?4 "
        "           AND d.QTL_user = (SELECT QTL_login FROM QTL_User WHERE id_QTL_user = ?5)), "
        " st.s_fio "
        "FROM student st WHERE st.id_group = ?1 ORDER BY st.s_fio, st.id_student");
    st.bind({param(group), param(discipline), param(year), param(ws), param(user)});
    ResultSet rs;
    rs.columns = {{"id_student", ColType::Int, 0},
                  {"IsSelected", ColType::Bit, 0},
                  {"IsTeacher", ColType::Bit, 0},
                  {"s_fio", ColType::NVarChar, 250}};
    while (st.step())
        rs.rows.push_back({std::int64_t(sqlite3_column_int64(st.get(), 0)),
                           std::int64_t(sqlite3_column_int64(st.get(), 1)),
                           std::int64_t(sqlite3_column_int64(st.get(), 2)),
                           std::string(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 3)))});
    out.results.push_back(std::move(rs));
}

// The student's registration for the discipline in the registering semester and year; when
// there are several, the one with the same credits and plan number, then the newest.
void getStudentInfo(sqlite3* db, const Ints& a, StatementOutcome& out) {
    detail::Stmt st(
        db,
        "SELECT d.id_kafedra, d.id_teacher, d.id_discipline, d.id_examination, disc.p34, d.id_a_year, d.id_semester, "
        "       d.subGroup "
        "FROM DisciplineForStudent d LEFT JOIN discipline disc ON disc.id_discipline = d.id_discipline "
        "WHERE d.id_student = ?1 AND d.id_ins_semester = ?2 AND d.id_ins_year = ?3 AND d.id_discipline = ?4 "
        "ORDER BY (d.kredits IS ?7) DESC, (d.descGroupNum IS ?6) DESC, d.id_disciplineForStudent DESC LIMIT 1");
    st.bind({param(a[0]), param(a[1]), param(a[2]), param(a[3]), param(a[4]), param(a[5]), param(a[6])});
    ResultSet rs;
    rs.columns = {{"id_kafedra", ColType::Int, 0},        {"id_teacher", ColType::Int, 0},
                  {"id_discipline", ColType::Int, 0},     {"id_examination", ColType::Int, 0},
                  {"discipline", ColType::NVarChar, 255}, {"id_a_year", ColType::Int, 0},
                  {"id_semester", ColType::Int, 0},       {"subGroup", ColType::Int, 0}};
    if (st.step()) {
        std::vector<Value> row;
        for (int i = 0; i < 8; ++i) {
            const int t = sqlite3_column_type(st.get(), i);
            if (t == SQLITE_NULL)
                row.emplace_back();
            else if (i == 4)
                row.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), i))));
            else
                row.emplace_back(std::int64_t(sqlite3_column_int64(st.get(), i)));
        }
        rs.rows.push_back(std::move(row));
    }
    out.results.push_back(std::move(rs));
}

void kpvStudents(sqlite3* db, const Ints& a, StatementOutcome& out) {
    getKpvStudents(db, a[0], a[1], a[2], a[4], a[6], out);
}

void kpvStudents2(sqlite3* db, const Ints& a, StatementOutcome& out) {
    getKpvStudents(db, a[0], a[1], a[2], a[5], a[7], out);
}

void getUser(sqlite3* db, SessionContext& ctx, const Texts& a, StatementOutcome& out) {
    detail::getUser(db, ctx.signIns, a, out);
}

const std::vector<RoutineDef>& routines() {
    static const std::vector<RoutineDef> defs = {
        {"GET_USER",
         {"@login", "@password", "@new_password", "@program", "@ip", "@computer", "@login2", "@mode", "@length"},
         nullptr,
         getUser},
        {"SP_Qtl33GetDisciplines", {"@id_a_year", "@id_w_s", "@id_kafedra", "@id_teacher"}, getDisciplines},
        {"SP_GetDescGroupNumOfDiscipline",
         {"@id_a_year", "@id_w_s", "@id_kafedra", "@id_group", "@id_discipline", "@id_examination"},
         getDescGroupNum},
        {"GET_KPV_Students",
         {"@id_group", "@id_discipline", "@id_a_year", "@id_examination", "@id_w_s", "@kredits", "@id_user"},
         kpvStudents},
        {"GET_KPV_Students2",
         {"@id_group", "@id_discipline", "@id_a_year", "@descGroupNum", "@id_examination", "@id_w_s", "@kredits",
          "@id_user"},
         kpvStudents2},
        {"GetKPVStudentInfo",
         {"@id_student", "@id_semester", "@id_a_year", "@id_discipline", "@id_group", "@descGroupNum", "@kredits"},
         getStudentInfo},
    };
    return defs;
}

bool parseIntLiteral(std::string s, std::optional<std::int64_t>& out) {
    s = trim(s);
    while (s.size() >= 2 && s.front() == '(' && s.back() == ')') s = trim(s.substr(1, s.size() - 2));
    if (lower(s) == "null") {
        out.reset();
        return true;
    }
    if (s.size() >= 2 && s.front() == '\'' && s.back() == '\'') s = trim(s.substr(1, s.size() - 2));
    return toInt(Value(s), out);
}

}  // namespace

bool isRoutine(const std::string& name) {
    return findRoutine(name) != nullptr;
}

void callRoutine(sqlite3* db, SessionContext& ctx, const std::string& name, const std::vector<Argument>& args,
                 StatementOutcome& out) {
    out.isProcedure = true;
    const RoutineDef* def = findRoutine(name);
    if (!def) {
        out.messages.push_back(
            error(sqlerr::NoSuchProcedure, 62, "Could not find stored procedure '" + name + "'.", ""));
        out.failed = true;
        return;
    }
    std::vector<const Value*> bound;
    if (!bindArguments(*def, args, bound, out)) {
        out.failed = true;
        return;
    }
    try {
        if (def->texts) {
            Texts texts;
            texts.reserve(bound.size());
            for (const Value* v : bound) texts.push_back(toText(*v));
            def->texts(db, ctx, texts, out);
            return;
        }
        Ints ints;
        for (size_t k = 0; k < bound.size(); ++k) {
            std::optional<std::int64_t> n;
            if (!toInt(*bound[k], n)) {
                out.messages.push_back(
                    error(sqlerr::ConversionError, 1, "Error converting data type varchar to int.", def->name));
                out.failed = true;
                return;
            }
            ints.push_back(n);
        }
        def->ints(db, ints, out);
    } catch (const std::exception& e) {
        out.results.clear();
        out.messages.push_back(error(sqlerr::UserDefined, 1, e.what(), def->name));
        out.failed = true;
    }
}

std::string tableFunctionSql(const std::string& name, const std::vector<std::string>& sqlArgs) {
    if (bareName(name) != "gettfio_with_pps") return std::string();
    if (sqlArgs.size() < 2)
        throw std::runtime_error(
            "An insufficient number of arguments were supplied for the procedure or function "
            "GetTFIO_with_pps.");
    if (sqlArgs.size() > 2)
        throw std::runtime_error("Procedure or function GetTFIO_with_pps has too many arguments specified.");
    std::optional<std::int64_t> kind, kafedra;
    if (!parseIntLiteral(sqlArgs[0], kind) || !parseIntLiteral(sqlArgs[1], kafedra))
        throw std::runtime_error("Error converting data type varchar to int.");
    // The first argument picks the kind of staff list; every kind lists the department's staff
    // here, but a NULL one lists nobody, as a NULL department does.
    const std::string where = (kind && kafedra) ? "t.id_kafedra = " + std::to_string(*kafedra) : "0";
    return "(SELECT t.id_teacher AS id_teacher, f.t_fio AS t_fio FROM teacher t "
           "INNER JOIN t_fio f ON f.id_teacher = t.id_teacher WHERE " +
           where + " ORDER BY f.t_fio)";
}

}  // namespace devserver::qtl
