// Sessions holding transactions open, over real loopback connections to the real engine: what
// they may keep other workstations from doing, and for how long.
#include "tds/server.h"
#include "tds_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace devserver;
using namespace devserver::tds;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kSignIn =
    "EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', '10.0.0.5', '%s', "
    "'operator','0','4'";

std::string signIn(const std::string& computer) {
    char buf[256];
    std::snprintf(buf, sizeof buf, kSignIn, computer.c_str());
    return buf;
}

// A bare TDS client; every read gives up after `timeout`.
class Wire {
public:
    Wire(int port, std::chrono::milliseconds timeout) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{static_cast<time_t>(timeout.count() / 1000),
                   static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    }
    ~Wire() { ::close(fd_); }
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    // The reply's tokens; nullopt when none came in time.
    std::optional<std::vector<tdstest::Token>> exchange(std::uint8_t type, const Bytes& payload) {
        const Bytes wire = packetize(type, payload, 4096, 0);
        if (::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(wire.size()))
            return std::nullopt;
        Bytes reply;
        for (;;) {
            std::uint8_t h[8];
            if (!recvAll(h, 8)) return std::nullopt;
            const std::size_t len = (h[2] << 8) | h[3];
            if (len < 8) return std::nullopt;
            const std::size_t at = reply.size();
            reply.resize(at + len - 8);
            if (!recvAll(reply.data() + at, len - 8)) return std::nullopt;
            if (h[1] & 0x01) break;
        }
        if (type == packet::PreLogin) return std::vector<tdstest::Token>{};
        return tdstest::readTokens(reply);
    }
    bool login(const std::string& user, const std::string& password) {
        if (!exchange(packet::PreLogin, tdstest::buildPreLogin())) return false;
        auto r = exchange(packet::Login7, tdstest::buildLogin7(user, password, "QTL"));
        return r && error(*r).empty();
    }
    std::optional<std::vector<tdstest::Token>> batch(const std::string& sql) {
        return exchange(packet::SqlBatch, tdstest::buildBatch(sql));
    }
    static std::string error(const std::vector<tdstest::Token>& reply) {
        for (const auto& t : reply)
            if (t.type == 0xAA) return std::to_string(t.number) + " " + t.text;
        return "";
    }
    // The first cell of the first row as text ("" when there is none), or as a number.
    static std::string firstCell(const std::vector<tdstest::Token>& reply) {
        for (const auto& t : reply)
            if (t.type == 0xD1 && !t.cells.empty()) return tdstest::cellText(t.cells[0]);
        return "";
    }
    static std::int64_t firstInt(const std::vector<tdstest::Token>& reply) {
        for (const auto& t : reply)
            if (t.type == 0xD1 && !t.cells.empty() && t.cells[0]) return tdstest::cellInt(t.cells[0]);
        return -1;
    }

private:
    bool recvAll(std::uint8_t* p, std::size_t n) {
        for (std::size_t got = 0; got < n;) {
            const ssize_t r = ::recv(fd_, p + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    }
    int fd_ = -1;
};

class Locks : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (std::filesystem::temp_directory_path() / ("qtl_locks_" + std::to_string(::getpid()) + ".db")).string();
        removeDb();
        EngineOptions e;
        e.dbPath = path_;
        engine_ = makeEngine(e);
        ServerOptions o;
        o.port = 0;
        server_ = std::make_unique<Server>(*engine_, o);
        server_->bind();
        thread_ = std::thread([this] { server_->run(); });
    }
    void TearDown() override {
        server_->stop();
        thread_.join();
        server_.reset();
        engine_.reset();
        removeDb();
    }
    void removeDb() {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
    }
    std::unique_ptr<Wire> as(const std::string& user, const std::string& password) {
        auto w = std::make_unique<Wire>(server_->port(), std::chrono::milliseconds(3000));
        EXPECT_TRUE(w->login(user, password)) << user;
        return w;
    }

    std::string path_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<Server> server_;
    std::thread thread_;
};

}  // namespace

// The settings-file account holding a transaction open (its own sign-in inside it) and an
// operator holding an uncommitted removal keep nobody from signing in: twenty workstations
// signing in at once all get their answer within a second, and each sign-in is recorded.
TEST_F(Locks, OpenTransactionsOfOtherSessionsDoNotHoldUpSignIns) {
    auto entry = as("qtl_entry", "entry_pw");
    auto op = as("qtl_op", "op_pw_33");
    const auto removed = op->batch("SELECT MIN(id_disciplineForStudent) FROM DisciplineForStudent");
    ASSERT_TRUE(removed);
    const std::string id = std::to_string(Wire::firstInt(*removed));
    auto r = entry->batch("BEGIN TRAN " + signIn("HOLDER"));
    ASSERT_TRUE(r && Wire::error(*r).empty()) << (r ? Wire::error(*r) : "no answer");
    r = op->batch("BEGIN TRAN DELETE FROM DisciplineForStudent WHERE id_disciplineForStudent = " + id);
    ASSERT_TRUE(r) << "the removal waited for the settings-file account's transaction";
    ASSERT_EQ(Wire::error(*r), "");

    std::atomic<int> late{0}, failed{0};
    std::vector<std::thread> workstations;
    for (int i = 0; i < 20; ++i)
        workstations.emplace_back([&, i] {
            const auto t0 = Clock::now();
            Wire w(server_->port(), std::chrono::milliseconds(2000));
            const bool in = w.login("qtl_entry", "entry_pw");
            const auto reply = in ? w.batch(signIn("PAR-" + std::to_string(i))) : std::nullopt;
            if (!reply || !Wire::error(*reply).empty() || Wire::firstCell(*reply).empty()) ++failed;
            if (Clock::now() - t0 > std::chrono::seconds(1)) ++late;
        });
    for (auto& t : workstations) t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(late.load(), 0);

    // The holders end; the removal never happened, and the sign-ins were recorded.
    ASSERT_TRUE(op->batch("ROLLBACK"));
    ASSERT_TRUE(entry->batch("ROLLBACK"));
    const auto left = op->batch("SELECT COUNT(*) FROM DisciplineForStudent WHERE id_disciplineForStudent = " + id);
    ASSERT_TRUE(left);
    EXPECT_EQ(Wire::firstInt(*left), 1);
    std::string comp;
    for (const auto until = Clock::now() + std::chrono::seconds(5); Clock::now() < until;) {
        const auto c = op->batch("SELECT last_comp FROM QTL_User WHERE QTL_login = 'operator'");
        comp = c ? Wire::firstCell(*c) : "";
        if (comp.rfind("PAR-", 0) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(comp.rfind("PAR-", 0), 0u) << comp;
}
