// The TDS listener: one thread per connection reading requests (so ATTENTION is seen while a
// batch runs), one worker per connection executing them through the engine.
#pragma once

#include "../engine.h"
#include "codec.h"
#include "request_log.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>

namespace devserver::tds {

struct ServerOptions {
    std::string listenAddress = "127.0.0.1";
    int port = 11433;                    // 0 picks a free port
    std::string logPath;                 // empty: no request log
    std::optional<std::regex> dropOn;    // a matching batch closes the connection unrun
    bool stallLogin = false;             // accept connections but never answer (login timeouts)
    ServerIdentity identity;
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

    struct Running {
        std::shared_ptr<Connection> connection;
        std::thread thread;
    };
    std::mutex connectionsMutex_;
    std::list<Running> connections_;
};

}  // namespace devserver::tds
