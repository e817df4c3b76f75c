// Database accounts (SQL Server authentication) and the login procedure GET_USER.
#include "demo_ids.h"
#include "internal.h"
#include "text.h"

#include <algorithm>
#include <cctype>

namespace devserver::qtl {
namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool isDigest(const std::string& s) {
    return s.size() == 32 &&
           std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

LoginResult checkLogin(sqlite3* db, const std::string& user, const std::string& password, const std::string& database) {
    LoginResult result;
    detail::Stmt st(db, "SELECT password FROM QTL_DbAccount WHERE name = ?");
    st.bind({user});
    const bool known = st.step();
    // Passwords compare exactly, as SQL Server does.
    const bool passwordOk =
        known && std::string(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))) == password;
    if (!passwordOk) {
        result.error = Message{18456, 1, 14, "Login failed for user '" + user + "'.", "", 1};
        return result;
    }
    if (!database.empty() && !sameIgnoringCase(database, "QTL")) {
        result.error = Message{
            4060, 1, 11, "Cannot open database \"" + database + "\" requested by the login. The login failed.", "", 1};
        return result;
    }
    result.ok = true;
    result.database = "QTL";
    return result;
}

std::pair<std::string, std::string> settingsAccount(sqlite3* db) {
    detail::Stmt st(db, "SELECT name, password FROM QTL_DbAccount ORDER BY id_db_account LIMIT 1");
    st.bind({});
    if (!st.step()) throw std::runtime_error("the QTL database holds no database account");
    return {reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)),
            reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1))};
}

namespace detail {

// Arguments: login, password digest, new-password digest or NULL, program tag, IP address,
// computer, login again, '0', length of the new-password argument.
// Row: stored db user, stored db password, user id, password state, refusal text, newest version.
void getUser(sqlite3* db, const std::vector<std::optional<std::string>>& args, StatementOutcome& out) {
    const std::string login = args[0].value_or("");
    const std::string digest = upper(args[1].value_or(""));
    const std::optional<std::string>& newDigest = args[2];
    const std::string program = args[3].value_or("");

    ResultSet rs;
    rs.columns = {{"db_login", ColType::NVarChar, 128}, {"db_password", ColType::NVarChar, 128},
                  {"id_QTL_user", ColType::Int, 0},     {"password_state", ColType::Int, 0},
                  {"message", ColType::NVarChar, 255},  {"version", ColType::Int, 0}};

    Value version;
    {
        Stmt st(db, "SELECT version FROM QTL_Program WHERE tag = ?");
        st.bind({program});
        if (st.step()) version = std::int64_t(sqlite3_column_int64(st.get(), 0));
    }
    auto refuse = [&](const std::string& why) {
        rs.rows.push_back({std::string(), std::string(), std::int64_t(0), std::int64_t(0), why, version});
        out.results.push_back(std::move(rs));
    };

    Stmt find(db,
              "SELECT u.id_QTL_user, u.password_md5, u.password_state, u.refusal, a.name, a.password "
              "FROM QTL_User u LEFT JOIN QTL_DbAccount a ON a.name = u.db_login WHERE u.QTL_login = ?");
    find.bind({login});
    if (!find.step()) return refuse(demo::kWrongPasswordText);
    const std::int64_t id = sqlite3_column_int64(find.get(), 0);
    const std::string stored = upper(reinterpret_cast<const char*>(sqlite3_column_text(find.get(), 1)));
    std::int64_t state = sqlite3_column_int64(find.get(), 2);
    auto col = [&](int i) {
        const auto* p = sqlite3_column_text(find.get(), i);
        return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
    };
    const std::string refusal = col(3), dbName = col(4), dbPassword = col(5);
    find.bind({});  // releases the read before the updates below

    if (digest != stored) return refuse(demo::kWrongPasswordText);
    if (!refusal.empty()) return refuse(refusal);

    if (newDigest) {
        if (!isDigest(*newDigest)) return refuse("Новый пароль не принят");
        Stmt upd(db, "UPDATE QTL_User SET password_md5 = ?, password_state = 90 WHERE id_QTL_user = ?");
        upd.run({upper(*newDigest), id});
        state = 90;
    }
    Stmt seen(db,
              "UPDATE QTL_User SET last_login = strftime('%Y-%m-%d %H:%M:%S', 'now', 'localtime'), "
              "last_ip = ?, last_comp = ? WHERE id_QTL_user = ?");
    seen.run({args[4] ? Stmt::Param(*args[4]) : Stmt::Param{}, args[5] ? Stmt::Param(*args[5]) : Stmt::Param{}, id});

    rs.rows.push_back({dbName.empty() ? std::string() : text::storedForm(dbName),
                       dbPassword.empty() ? std::string() : text::storedForm(dbPassword), id, state, std::string(),
                       version});
    out.results.push_back(std::move(rs));
}

}  // namespace detail
}  // namespace devserver::qtl
