// Database accounts (SQL Server authentication) and the login procedure GET_USER.
#include "demo_ids.h"
#include "internal.h"
#include "text.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

namespace devserver::qtl {
using detail::Stmt;
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

Stmt::Param optionalText(const std::optional<std::string>& s) {
    return s ? Stmt::Param(*s) : Stmt::Param{};
}

// The local time of the call, as the sign-in stamp keeps it (a record may be written later).
std::string localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

const char* const kStorePassword = "UPDATE QTL_User SET password_md5 = ?, password_state = 90 WHERE id_QTL_user = ?";
const char* const kRecordSignIn =
    "UPDATE QTL_User SET last_login = ?, last_ip = ?, last_comp = ? WHERE id_QTL_user = ?";

}  // namespace

LoginResult checkLogin(sqlite3* db, const std::string& user, const std::string& password, const std::string& database) {
    LoginResult result;
    // Names compare by the column's collation, as the server's collation compares login names:
    // case-insensitive, trailing blanks ignored. The session is then the account as stored, so
    // its rights and the log never depend on how the client spelled the name.
    detail::Stmt st(db, "SELECT password, name FROM QTL_DbAccount WHERE name = ?");
    st.bind({user});
    const bool known = st.step();
    // Passwords compare exactly, as SQL Server does.
    const bool passwordOk =
        known && std::string(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))) == password;
    if (passwordOk) result.account = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 1));
    if (!passwordOk) {
        result.error = makeMessage(sqlerr::LoginFailed, 14, "Login failed for user '" + user + "'.");
        return result;
    }
    if (!database.empty() && !sameIgnoringCase(database, "QTL")) {
        result.error =
            makeMessage(sqlerr::CannotOpenDatabase, 11,
                        "Cannot open database \"" + database + "\" requested by the login. The login failed.");
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
void getUser(sqlite3* db, SignInWriter* writer, const std::vector<std::optional<std::string>>& args,
             StatementOutcome& out) {
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
        if (writer)
            writer->storePassword(id, upper(*newDigest));
        else
            storePassword(db, id, upper(*newDigest));
        state = 90;
    }
    if (writer)
        writer->recordSignIn(id, args[4], args[5]);
    else
        Stmt(db, kRecordSignIn).run({localNow(), optionalText(args[4]), optionalText(args[5]), id});

    rs.rows.push_back({dbName.empty() ? std::string() : text::storedForm(dbName),
                       dbPassword.empty() ? std::string() : text::storedForm(dbPassword), id, state, std::string(),
                       version});
    out.results.push_back(std::move(rs));
}

}  // namespace detail
void storePassword(sqlite3* db, std::int64_t userId, const std::string& digest) {
    Stmt(db, kStorePassword).run({digest, userId});
}

struct SignInRecorder::Impl {
    struct Stamp {
        std::string when;
        std::optional<std::string> ip, computer;
    };

    sqlite3* db = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::int64_t, Stamp> waiting;  // guarded by mutex; the newest per user
    // `db` is used by the writer thread only.
    bool stopping = false;  // guarded by mutex
    std::thread writer;

    // One transaction for all of them, taken only if the write lock is free now. Anything but a
    // busy database (the file gone, a table missing) drops them: retrying could not help.
    bool write(const std::map<std::int64_t, Stamp>& stamps) {
        if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return (sqlite3_errcode(db) & 0xFF) != SQLITE_BUSY;
        try {
            Stmt st(db, kRecordSignIn);
            for (const auto& [id, s] : stamps) st.run({s.when, optionalText(s.ip), optionalText(s.computer), id});
        } catch (const std::exception&) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return true;
        }
        if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
        const bool busy = (sqlite3_errcode(db) & 0xFF) == SQLITE_BUSY;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return !busy;
    }

    // Takes what waits and writes it in one transaction without holding the mutex, so a sign-in
    // never waits for a commit (nor for the checkpoint a commit may run). What could not be
    // written goes back unless a newer record for the user arrived meanwhile.
    void run() {
        std::unique_lock lock(mutex);
        while (!stopping || !waiting.empty()) {
            if (waiting.empty()) {
                wake.wait(lock);
                continue;
            }
            std::map<std::int64_t, Stamp> batch;
            batch.swap(waiting);
            if (stopping) sqlite3_busy_timeout(db, 2000);  // the sessions and their locks are gone
            lock.unlock();
            const bool written = write(batch);
            lock.lock();
            if (written) continue;
            if (stopping) break;
            for (auto& [id, stamp] : batch) waiting.try_emplace(id, std::move(stamp));
            wake.wait_for(lock, std::chrono::milliseconds(20));
        }
    }
};

SignInRecorder::SignInRecorder(const std::string& dbPath) : impl_(std::make_unique<Impl>()) {
    if (sqlite3_open_v2(dbPath.c_str(), &impl_->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
        const std::string why = impl_->db ? sqlite3_errmsg(impl_->db) : "out of memory";
        sqlite3_close_v2(impl_->db);
        throw std::runtime_error("cannot open database " + dbPath + ": " + why);
    }
    registerFunctions(impl_->db);
    sqlite3_exec(impl_->db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    impl_->writer = std::thread([impl = impl_.get()] { impl->run(); });
}

SignInRecorder::~SignInRecorder() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_one();
    impl_->writer.join();
    sqlite3_close_v2(impl_->db);
}

void SignInRecorder::record(std::int64_t userId, const std::optional<std::string>& ip,
                            const std::optional<std::string>& computer) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->waiting[userId] = Impl::Stamp{localNow(), ip, computer};
    }
    impl_->wake.notify_one();
}

}  // namespace devserver::qtl
