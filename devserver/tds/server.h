// The TDS listener: one thread per connection reading requests (so ATTENTION is seen while a
// batch runs), one worker per connection executing them through the engine.
#pragma once

#include "../engine.h"
#include "../pattern.h"
#include "codec.h"
#include "request_log.h"
#include "tls.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace devserver::tds {

struct ServerOptions {
    std::string listenAddress = "127.0.0.1";
    int port = 11433;  // 0 picks a free port
    std::string logPath;  // empty: no request log
    std::uint64_t logMaxBytes = RequestLog::kDefaultMaxBytes;
    std::optional<Pattern> dropOn;  // a matching batch closes the connection unrun
    bool stallLogin = false;  // accept connections but never answer (login timeouts)
    ServerIdentity identity;
    // The certificate the login is encrypted with. Present: a client that can encrypt
    // (ENCRYPTION off in its PRELOGIN) gets the login in TLS and the session in clear, as SQL
    // Server does when encryption is not forced. Absent: encryption is declined (not supported)
    // and the login travels readable.
    std::shared_ptr<TlsContext> tls;

    // Limits: what one client, or many, may hold of the server. 0 turns a time limit off.
    int maxConnections = 2000;  // beyond it new connections get error 17809 and are closed
    int loginTimeoutSeconds = 60;  // from accept to a successful login
    int idleTimeoutSeconds = 8 * 3600;  // a logged-in session with no request open
    std::size_t maxPreLoginRequestBytes = std::size_t{128} * 1024;  // PRELOGIN and LOGIN7 are a few hundred bytes
    std::size_t maxRequestBytes = std::size_t{16} * 1024 * 1024;  // one batch or RPC of a logged-in session
    int maxQueuedRequests = 32;  // per session: a pipelining client waits for its answers
    std::size_t maxQueuedBytes = std::size_t{16} * 1024 * 1024;  // per session, the same

    // How a connection's threads are started (tests inject failures); throws std::system_error
    // when the system has no thread to give.
    std::function<std::thread(std::function<void()>)> startThread;
};

class Connection;

class Server {
public:
    Server(Engine& engine, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the log and binds the listener; throws std::runtime_error with the reason.
    void bind();
    int port() const { return port_; }
    // Serves until stop(); then ends every session's reading side and waits for them.
    void run();
    // Thread-safe; not for signal handlers (use a signal-waiting thread).
    void stop();

private:
    friend class Connection;
    void reap(bool all);

    Engine& engine_;
    ServerOptions options_;
    RequestLog log_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> nextSession_{1};
    std::atomic<int> live_{0};  // connections being served
    int reserveFd_ = -1;  // given up to accept and refuse when out of descriptors
    std::chrono::steady_clock::time_point lastLimitNote_{};
    void refuse(int fd, std::int32_t number, const std::string& text);
    void noteRefusal(const std::string& text);
    std::thread startThread(std::function<void()> body);

    struct Running {
        std::shared_ptr<Connection> connection;
        std::thread thread;
    };
    std::mutex connectionsMutex_;
    std::list<Running> connections_;
};

}  // namespace devserver::tds
