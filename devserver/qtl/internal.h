// Pieces shared by the files of the QTL database; not part of the seam.
#pragma once

#include "qtl.h"

#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace devserver::qtl::detail {

// Runs one or more statements; throws std::runtime_error with SQLite's text on failure.
void exec(sqlite3* db, const std::string& sql);

void createTables(sqlite3* db);
void createIndexes(sqlite3* db);
void fillReference(sqlite3* db);  // accounts, program version, calendar, lookups
void fillSmall(sqlite3* db);  // includes fillReference
void fillLarge(sqlite3* db);

// A prepared statement that is reset after each use.
class Stmt {
public:
    using Param = std::variant<std::monostate, std::int64_t, double, std::string>;

    Stmt(sqlite3* db, const std::string& sql);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    // Binds the parameters (1-based, in order) and runs an INSERT/UPDATE to completion.
    void run(std::initializer_list<Param> params);
    // Binds the parameters; call step() for rows.
    void bind(std::initializer_list<Param> params);
    bool step();
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Deterministic generator for the demo data (no dependence on the platform's random sources).
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }

private:
    std::uint64_t state_;
};

// A Russian full name "Фамилия Имя Отчество" and its short teacher form "Фамилия И.О.".
struct PersonName {
    std::string surname, name, patronymic;
    std::string full() const { return surname + " " + name + " " + patronymic; }
    std::string initials() const;
};
PersonName randomPerson(Rng& rng);

// GET_USER with its nine arguments already converted to text (nullopt = NULL). Reads on `db`;
// writes through `writer`, or on `db` when there is none.
void getUser(sqlite3* db, SignInWriter* writer, const std::vector<std::optional<std::string>>& args,
             StatementOutcome& out);
}  // namespace devserver::qtl::detail
