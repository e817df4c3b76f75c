// qtl-devserver under load, on loopback, for a bounded time: many idle connections (half of them
// never logging in), active sessions running the workstation's reads as an operator, a client
// that reads a large result slowly, oversized requests and pipelined batches. Prints the latency
// of the active sessions' batches (p50, p99), the server's peak resident memory (VmHWM) and
// whether it stayed up throughout; exits 1 when it did not.
//
//   build/<dir>/bin/bench_load [seconds of load=30, at most 45] [idle connections=400] [active sessions=100]
//
// Run it on a release build; the whole run, start and stop included, ends within about a minute.
#include "../tests/unit/tds_test_support.h"
#include "../tests/unit/tsql_statements.h"
#include "tds/codec.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using devserver::tds::Bytes;
namespace packet = devserver::tds::packet;

int connectTo(int port, int recvBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (recvBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &recvBuffer, sizeof recvBuffer);
    timeval tv{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const Bytes& b) {
    std::size_t sent = 0;
    while (sent < b.size()) {
        const ssize_t r = ::send(fd, b.data() + sent, b.size() - sent, MSG_NOSIGNAL);
        if (r <= 0) return false;
        sent += static_cast<std::size_t>(r);
    }
    return true;
}

bool recvAll(int fd, std::uint8_t* p, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd, p + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// One whole reply's payload; false when the server closed the connection first.
bool readReply(int fd, Bytes& payload) {
    payload.clear();
    for (;;) {
        std::uint8_t h[8];
        if (!recvAll(fd, h, 8)) return false;
        const std::size_t len = (h[2] << 8) | h[3];
        if (len < 8) return false;
        const std::size_t at = payload.size();
        payload.resize(at + len - 8);
        if (!recvAll(fd, payload.data() + at, len - 8)) return false;
        if (h[1] & 0x01) return true;
    }
}

// The first error's number and text, "" when none.
std::string firstError(const Bytes& payload) {
    try {
        for (const auto& t : tdstest::readTokens(payload))
            if (t.type == 0xAA) return std::to_string(t.number) + " " + t.text;
    } catch (const std::exception& e) {
        return std::string("unreadable reply: ") + e.what();
    }
    return "";
}

bool hasError(const Bytes& payload) {
    return !firstError(payload).empty();
}

bool login(int fd) {
    Bytes reply;
    if (!sendAll(fd, devserver::tds::packetize(packet::PreLogin, tdstest::buildPreLogin(), 4096, 0))) return false;
    if (!readReply(fd, reply)) return false;
    if (!sendAll(fd,
                 devserver::tds::packetize(packet::Login7, tdstest::buildLogin7("qtl_op", "op_pw_33", "QTL"), 4096, 0)))
        return false;
    return readReply(fd, reply) && !hasError(reply);
}

bool batch(int fd, const std::string& sql, Bytes& reply) {
    return sendAll(fd, devserver::tds::packetize(packet::SqlBatch, tdstest::buildBatch(sql), 4096, 0)) &&
           readReply(fd, reply);
}

long statusKb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::clamp(std::atoi(argv[1]), 5, 45) : 30;
    const int idleCount = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 1500) : 400;
    const int activeCount = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 300) : 100;

    // Every connection is a descriptor here and one in the server (which inherits the limit).
    rlimit nofile{};
    ::getrlimit(RLIMIT_NOFILE, &nofile);
    nofile.rlim_cur = nofile.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &nofile);
    ::signal(SIGPIPE, SIG_IGN);

    const auto dir = std::filesystem::temp_directory_path() / ("bench_load_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string db = (dir / "qtl.db").string();

    int out[2];
    if (::pipe(out) != 0) return 2;
    const pid_t server = ::fork();
    if (server == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::execl(QTL_DEVSERVER_PATH, "qtl-devserver", "--port", "0", "--db", db.c_str(), "--demo", "small", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    std::string ready;
    char c;
    while (ready.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1) ready += c;
    const auto colon = ready.rfind(':');
    if (ready.rfind("listening on", 0) != 0 || colon == std::string::npos) {
        std::fprintf(stderr, "qtl-devserver did not start: %s\n", ready.c_str());
        return 1;
    }
    const int port = std::atoi(ready.c_str() + colon + 1);
    std::printf("qtl-devserver pid %d on port %d; %d s, %d idle connections, %d active sessions\n", server, port,
                seconds, idleCount, activeCount);

    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::atomic<bool> serverDied{false};
    std::atomic<long> peakHwm{0};
    std::thread watcher([&] {
        while (Clock::now() < deadline) {
            int status = 0;
            if (::waitpid(server, &status, WNOHANG) == server) {
                serverDied = true;
                return;
            }
            peakHwm = std::max(peakHwm.load(), statusKb(server, "VmHWM:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });

    // Idle connections: half log in and then say nothing, half never get past connecting.
    std::vector<int> idle;
    int idleLoggedIn = 0;
    for (int i = 0; i < idleCount; ++i) {
        const int fd = connectTo(port);
        if (fd < 0) break;
        if (i % 2 == 0 && login(fd)) ++idleLoggedIn;
        idle.push_back(fd);
    }

    // Active sessions: the workstation's reads, one batch after another.
    const auto reads = tsql_statements::reads();
    std::mutex latMutex;
    std::vector<double> latencies;
    std::map<std::string, long> errors;  // statement and error, how often
    std::map<std::string, std::vector<double>> byStatement;  // latencies per statement kind
    std::atomic<long> failedBatches{0}, lostSessions{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < activeCount; ++w)
        workers.emplace_back([&, w] {
            std::vector<double> mine;
            std::map<std::string, std::vector<double>> mineBy;
            const int fd = connectTo(port);
            if (fd < 0 || !login(fd)) {
                ++lostSessions;
                if (fd >= 0) ::close(fd);
                return;
            }
            Bytes reply;
            for (std::size_t i = static_cast<std::size_t>(w); Clock::now() < deadline; ++i) {
                const auto t0 = Clock::now();
                if (!batch(fd, reads[i % reads.size()].sql, reply)) {
                    ++lostSessions;
                    break;
                }
                mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                mineBy[reads[i % reads.size()].what].push_back(mine.back());
                if (const std::string e = firstError(reply); !e.empty()) {
                    ++failedBatches;
                    std::lock_guard lock(latMutex);
                    ++errors[std::string(reads[i % reads.size()].what) + ": " + e.substr(0, 120)];
                }
            }
            ::close(fd);
            std::lock_guard lock(latMutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
            for (auto& [what, v] : mineBy) byStatement[what].insert(byStatement[what].end(), v.begin(), v.end());
        });

    // A client that asks for a large result and reads it a kilobyte at a time.
    std::thread slowReader([&] {
        const int fd = connectTo(port, 4096);
        if (fd < 0 || !login(fd)) return;
        sendAll(fd, devserver::tds::packetize(
                        packet::SqlBatch,
                        tdstest::buildBatch("SELECT a.s_fio, b.s_fio FROM s_fio a CROSS JOIN s_fio b"), 4096, 0));
        std::uint8_t buf[1024];
        while (Clock::now() < deadline && ::recv(fd, buf, sizeof buf, 0) > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::close(fd);
    });

    // Oversized requests, before and after login: each must be refused with the connection.
    std::atomic<long> oversizedRefused{0}, oversizedSent{0};
    std::thread oversized([&] {
        const Bytes huge = tdstest::buildBatch(std::string(9u * 1024u * 1024u, 'x'));  // 18 MiB as UCS-2
        while (Clock::now() < deadline) {
            const int fd = connectTo(port);
            if (fd < 0) break;
            const bool after = oversizedSent % 2 == 0;
            ++oversizedSent;
            if (after && !login(fd)) {
                ::close(fd);
                continue;
            }
            sendAll(fd, devserver::tds::packetize(after ? packet::SqlBatch : packet::PreLogin, huge, 4096, 0));
            // Refused: an error and the close, or (when the server closed while the request was
            // still being sent) the close alone. Never an answer.
            Bytes reply;
            if (!readReply(fd, reply) || hasError(reply)) ++oversizedRefused;
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    });

    // Pipelined batches: 100 sent at once, then their 100 answers read.
    std::atomic<long> pipelinedAnswered{0};
    std::thread pipeliner([&] {
        const int fd = connectTo(port);
        if (fd < 0 || !login(fd)) return;
        const Bytes one = devserver::tds::packetize(packet::SqlBatch, tdstest::buildBatch(reads.front().sql), 4096, 0);
        while (Clock::now() < deadline) {
            std::thread sender([&] {
                for (int i = 0; i < 100; ++i) sendAll(fd, one);
            });
            Bytes reply;
            int answered = 0;
            while (answered < 100 && readReply(fd, reply)) ++answered;
            sender.join();
            pipelinedAnswered += answered;
            if (answered < 100) break;
        }
        ::close(fd);
    });

    for (auto& t : workers) t.join();
    slowReader.join();
    oversized.join();
    pipeliner.join();
    watcher.join();
    const long rssNow = statusKb(server, "VmRSS:");
    const long hwm = std::max(peakHwm.load(), statusKb(server, "VmHWM:"));
    for (int fd : idle) ::close(fd);

    // The server must still be there, and end cleanly on SIGTERM.
    int status = 0;
    bool stoppedCleanly = false;
    if (!serverDied) {
        ::kill(server, SIGTERM);
        ::waitpid(server, &status, 0);
        stoppedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::filesystem::remove_all(dir);

    std::vector<double> lat = latencies;
    const double p50 = percentile(lat, 0.50), p99 = percentile(lat, 0.99);
    std::printf("idle connections held: %zu (%d logged in)\n", idle.size(), idleLoggedIn);
    std::printf("active batches: %zu, failed with an error: %ld, sessions lost: %ld\n", latencies.size(),
                failedBatches.load(), lostSessions.load());
    for (const auto& [what, count] : errors) std::printf("  %ld x %s\n", count, what.c_str());
    std::printf("active batch latency: p50 %.2f ms, p99 %.2f ms\n", p50, p99);
    // Where the tail is: the statements whose own p99 is the slowest.
    std::vector<std::pair<double, std::string>> tails;
    for (auto& [what, v] : byStatement) tails.emplace_back(percentile(v, 0.99), what);
    std::sort(tails.rbegin(), tails.rend());
    for (std::size_t k = 0; k < tails.size() && k < 3; ++k)
        std::printf("  slowest p99: %s %.2f ms\n", tails[k].second.c_str(), tails[k].first);
    std::printf("oversized requests: %ld sent, %ld refused\n", oversizedSent.load(), oversizedRefused.load());
    std::printf("pipelined batches answered: %ld\n", pipelinedAnswered.load());
    std::printf("server peak resident memory (VmHWM): %.1f MiB; resident at the end: %.1f MiB\n", hwm / 1024.0,
                rssNow / 1024.0);
    // What the server may take at the largest load this bench makes (1,500 idle, 300 active):
    // the sessions' threads and SQLite page caches, one large result per slow reader.
    constexpr long kMemoryBoundMiB = 512;
    const bool withinBound = hwm <= kMemoryBoundMiB * 1024;
    std::printf("peak within the bound of %ld MiB: %s\n", kMemoryBoundMiB, withinBound ? "yes" : "NO");
    std::printf("server stayed up: %s; stopped cleanly on SIGTERM: %s\n", serverDied ? "NO" : "yes",
                stoppedCleanly ? "yes" : "NO");
    return serverDied || !stoppedCleanly || lostSessions > 0 || !withinBound ? 1 : 0;
}
