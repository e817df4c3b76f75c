// The files qtl-devserver is pointed at: the request log and a new database two servers start on.
#include "engine.h"
#include "qtl/qtl.h"
#include "tds/request_log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using devserver::tds::RequestLog;

namespace {

fs::path scratch(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("devserver_files_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path p = dir / name;
    fs::remove_all(p);
    return p;
}

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

// --log names something else than a regular file of ours: the server refuses it, says why, and
// leaves its mode as it was (a device's mode is the whole system's).
TEST(RequestLogFile, RefusesAnythingButARegularFileOfItsUserAndLeavesItsModeAlone) {
    struct Case {
        const char* name;
        std::function<bool(const fs::path&)> make;  // false: cannot be made here (not root)
        const char* why;
    };
    const Case cases[] = {
        {"directory", [](const fs::path& p) { return ::mkdir(p.c_str(), 0755) == 0; }, "not a regular file"},
        {"fifo", [](const fs::path& p) { return ::mkfifo(p.c_str(), 0644) == 0; }, "not a regular file"},
        {"device", [](const fs::path& p) { return ::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
         "not a regular file"},
        {"other user's file",
         [](const fs::path& p) {
             return std::fopen(p.c_str(), "w") && ::chmod(p.c_str(), 0644) == 0 &&
                    ::chown(p.c_str(), 65534, 65534) == 0;
         },
         "belongs to another user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path p = scratch("log_" + std::string(c.name));
        if (!c.make(p)) {
            std::printf("[ SKIPPED  ] %s: cannot be made by this user\n", c.name);
            continue;
        }
        const mode_t before = modeOf(p);
        // A reader on the FIFO, so that a writer's open would succeed rather than hang.
        const int reader = std::string(c.name) == "fifo" ? ::open(p.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        RequestLog log;
        EXPECT_FALSE(log.open(p.string()));
        EXPECT_NE(log.error().find(c.why), std::string::npos) << log.error();
        EXPECT_EQ(modeOf(p), before);
        if (reader >= 0) ::close(reader);
        fs::remove_all(p);
    }
    // A file that is not there is made, owner-only.
    const fs::path fresh = scratch("log_new");
    RequestLog log;
    ASSERT_TRUE(log.open(fresh.string())) << log.error();
    EXPECT_EQ(modeOf(fresh), 0600u);
    fs::remove_all(fresh.parent_path());
}

// Servers started on the same new database a moment apart: one builds it while the others
// wait, all then serve it, and it is whole. Each server is a process of its own here.
TEST(NewDatabase, ServersStartedOnItTogetherAllStartAndItIsWhole) {
    const fs::path db = scratch("race.db");
    std::vector<pid_t> children;
    for (int i = 0; i < 3; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int rc = 0;
            try {
                devserver::EngineOptions o;
                o.dbPath = db.string();
                devserver::makeEngine(o);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "server %d: %s\n", i, e.what());
                rc = 1;
            }
            ::_exit(rc);
        }
        children.push_back(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    EXPECT_FALSE(fs::exists(db.string() + ".building"));
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    devserver::qtl::registerFunctions(h);  // the indexes' collation
    auto single = [h](const char* sql) {
        sqlite3_stmt* st = nullptr;
        std::string out = "(failed)";
        if (sqlite3_prepare_v2(h, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return out;
    };
    EXPECT_EQ(single("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(single("SELECT count(*) > 0 FROM QTL_User"), "1");
    sqlite3_close(h);
    fs::remove_all(db.parent_path());
}
