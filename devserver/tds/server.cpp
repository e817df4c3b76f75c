#include "server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace devserver::tds {

namespace {

bool recvAll(int fd, std::uint8_t* buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::recv(fd, buf + got, n - got, 0);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool sendAll(int fd, const std::uint8_t* buf, std::size_t n) {
    std::size_t sent = 0;
    while (sent < n) {
        ssize_t r = ::send(fd, buf + sent, n - sent, MSG_NOSIGNAL);
        if (r > 0) {
            sent += static_cast<std::size_t>(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// A request as the reader parsed it, handed to the worker in arrival order.
struct Request {
    enum class Kind { PreLogin, Login, Batch, Rpc, TransactionManager, Attention, Malformed, Unknown };
    Kind kind = Kind::Malformed;
    Login7Request login;
    RpcAction rpc;
    std::string text;
    std::string user;             // Batch: the login name, for the log
    bool drop = false;            // Batch: fault injection closes the connection instead
    std::string error;
    bool fatal = false;           // Malformed: the stream cannot be trusted any more
    std::uint64_t attentionSeq = 0;
};

}  // namespace

class Connection {
public:
    Connection(Server& server, int fd, std::uint64_t id) : server_(server), fd_(fd), id_(id) {}
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }

    void run() {
        std::thread worker([this] { work(); });
        read();
        {
            std::lock_guard lock(sessionMutex_);
            readerGone_ = true;
            if (executing_ && session_) session_->cancel();  // the client is gone
        }
        {
            std::lock_guard lock(queueMutex_);
            readerDone_ = true;
        }
        queueCv_.notify_all();
        worker.join();
        finished_ = true;
    }

    // Stops reading; the worker finishes what is queued and the connection ends.
    void stopReading() { ::shutdown(fd_, SHUT_RD); }
    bool finished() const { return finished_; }

private:
    // ---- reader side ---------------------------------------------------------------------
    void logRequest(const char* kind, const std::string& text) {
        server_.log_.write(id_, kind, user_, text);
    }

    void push(Request r) {
        {
            std::lock_guard lock(queueMutex_);
            queue_.push_back(std::move(r));
        }
        queueCv_.notify_all();
    }

    void pushMalformed(const std::string& error, bool fatal) {
        Request r;
        r.kind = Request::Kind::Malformed;
        r.error = error;
        r.fatal = fatal;
        push(std::move(r));
    }

    void read() {
        Reassembler reassembler;
        std::uint8_t header[kHeaderSize];
        Bytes packetBuf;
        while (!closing_) {
            if (!recvAll(fd_, header, kHeaderSize)) return;
            PacketHeader h;
            std::string error;
            if (!parseHeader(header, kHeaderSize, h, error)) {
                pushMalformed("Malformed request: " + error + ".", true);
                return;
            }
            packetBuf.assign(header, header + kHeaderSize);
            packetBuf.resize(h.length);
            if (!recvAll(fd_, packetBuf.data() + kHeaderSize, h.length - kHeaderSize)) return;
            switch (reassembler.addPacket(packetBuf.data(), packetBuf.size(), error)) {
                case Reassembler::Status::NeedMore: continue;
                case Reassembler::Status::Error:
                    pushMalformed("Malformed request: " + error + ".", true);
                    return;
                case Reassembler::Status::Complete: break;
            }
            if (!dispatch(reassembler.take())) return;
        }
    }

    // Parses one message, logs it and queues it; false when reading must stop.
    bool dispatch(ClientMessage m) {
        Request r;
        std::string error;
        switch (m.type) {
            case packet::PreLogin: {
                PreLoginRequest pre;
                if (!parsePreLogin(m.payload, pre, error)) {
                    pushMalformed("Malformed PRELOGIN request: " + error + ".", true);
                    return false;
                }
                r.kind = Request::Kind::PreLogin;
                push(std::move(r));
                return true;
            }
            case packet::Login7: {
                if (!parseLogin7(m.payload, r.login, error)) {
                    logRequest("login", "");
                    pushMalformed("Malformed LOGIN7 request: " + error + ".", true);
                    return false;
                }
                user_ = r.login.userName;
                clientVersion_ = r.login.tdsVersion;
                logRequest("login", r.login.database);
                r.kind = Request::Kind::Login;
                push(std::move(r));
                return true;
            }
            case packet::SqlBatch: {
                if (!parseSqlBatch(m.payload, hasAllHeaders(clientVersion_), r.text, error)) {
                    logRequest("batch", "");
                    pushMalformed("Malformed SQL batch: " + error + ".", false);
                    return true;
                }
                // The worker logs it when it takes it, with the session's state at that moment.
                r.kind = Request::Kind::Batch;
                r.user = user_;
                // Fault injection: the connection goes away without an answer.
                r.drop = server_.options_.dropOn && std::regex_search(r.text, *server_.options_.dropOn);
                const bool more = !r.drop;
                push(std::move(r));
                return more;
            }
            case packet::Rpc: {
                r.rpc = planRpc(m.payload, hasAllHeaders(clientVersion_));
                logRequest("rpc", r.rpc.logText);
                r.kind = Request::Kind::Rpc;
                push(std::move(r));
                return true;
            }
            case packet::TransactionManager:
                logRequest("other", "transaction manager request");
                r.kind = Request::Kind::TransactionManager;
                push(std::move(r));
                return true;
            case packet::Attention: {
                r.attentionSeq = ++attentionReceived_;
                logRequest("attention", "");
                {
                    std::lock_guard lock(sessionMutex_);
                    if (executing_ && session_) session_->cancel();
                }
                r.kind = Request::Kind::Attention;
                push(std::move(r));
                return true;
            }
            default: {
                char buf[64];
                std::snprintf(buf, sizeof buf, "packet type 0x%02x", m.type);
                logRequest("other", buf);
                r.kind = Request::Kind::Unknown;
                r.error = std::string("Requests of ") + buf + " are not supported by this server.";
                push(std::move(r));
                return false;
            }
        }
    }

    // ---- worker side ---------------------------------------------------------------------
    bool pop(Request& r) {
        std::unique_lock lock(queueMutex_);
        queueCv_.wait(lock, [this] { return !queue_.empty() || readerDone_ || closing_; });
        if (closing_ || queue_.empty()) return false;
        r = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }

    void work() {
        Request r;
        while (pop(r)) {
            if (!handle(r)) {
                closing_ = true;
                ::shutdown(fd_, SHUT_RDWR);
                queueCv_.notify_all();
                break;
            }
        }
        std::unique_ptr<Session> gone;
        {
            std::lock_guard lock(sessionMutex_);
            gone = std::move(session_);
        }
    }

    std::uint16_t spid() const { return static_cast<std::uint16_t>(id_ & 0xFFFF); }

    bool sendPackets(const Bytes& payload, std::size_t packetSize) {
        Bytes wire = packetize(packet::Reply, payload, packetSize, spid());
        return sendAll(fd_, wire.data(), wire.size());
    }

    bool sendError(std::int32_t number, std::uint8_t severity, const std::string& text) {
        return sendPackets(buildErrorReply(version_, server_.options_.identity, number, severity, text),
                           packetSize_);
    }

    // True when an ATTENTION is waiting for its acknowledgement; `seen` gets the newest one.
    bool attentionPending(std::uint64_t& seen) const {
        seen = attentionReceived_.load();
        return seen > attentionAcked_;
    }

    bool sendAttentionAck(std::uint64_t seen) {
        attentionAcked_ = seen;
        return sendPackets(buildAttentionAck(version_), packetSize_);
    }

    // Sends a reply packet by packet. When an ATTENTION arrives meanwhile, the token being sent
    // is completed (so the stream stays parseable), the rest is dropped and the acknowledgement
    // ends the message.
    bool sendReply(const Bytes& payload, const std::vector<std::size_t>& tokenStarts) {
        const std::size_t chunk = packetSize_ - kHeaderSize;
        std::size_t pos = 0;
        std::uint8_t id = 1;
        Bytes packetBuf;
        while (pos < payload.size()) {
            std::uint64_t seen;
            if (attentionPending(seen)) {
                auto it = std::lower_bound(tokenStarts.begin(), tokenStarts.end(), pos);
                const std::size_t cut = it == tokenStarts.end() ? payload.size() : *it;
                Bytes tail(payload.begin() + static_cast<std::ptrdiff_t>(pos),
                           payload.begin() + static_cast<std::ptrdiff_t>(cut));
                Bytes ack = buildAttentionAck(version_);
                tail.insert(tail.end(), ack.begin(), ack.end());
                attentionAcked_ = seen;
                return sendPackets(tail, packetSize_);
            }
            const std::size_t n = std::min(chunk, payload.size() - pos);
            const bool last = pos + n == payload.size();
            Bytes one = packetize(packet::Reply, payload.data() + pos, n, packetSize_, spid(), last);
            one[6] = id++;
            if (!sendAll(fd_, one.data(), one.size())) return false;
            pos += n;
        }
        return true;
    }

    // Handles one request; false closes the connection.
    bool handle(const Request& r) {
        switch (r.kind) {
            case Request::Kind::PreLogin:
                if (server_.options_.stallLogin) return true;   // the client's login times out
                return sendPackets(buildPreLoginReply(), kDefaultPacketSize);
            case Request::Kind::Login:
                if (server_.options_.stallLogin) return true;
                return handleLogin(r.login);
            case Request::Kind::Batch:
                // Logged here rather than by the reader: the worker is the only one running
                // batches, so the state it records is exactly what the previous batch left.
                if (session_)
                    server_.log_.write(id_, "batch", r.user, r.text,
                                       SessionState{session_->tranCount(), session_->xactAbort()});
                else
                    server_.log_.write(id_, "batch", r.user, r.text);
                if (r.drop) return false;
                if (!session_) {
                    sendError(kErrProtocol, 16, "A SQL batch arrived before a successful login.");
                    return false;
                }
                return handleBatch(r.text);
            case Request::Kind::Rpc:
                if (!session_) {
                    sendError(kErrProtocol, 16, "An RPC request arrived before a successful login.");
                    return false;
                }
                return handleRpc(r.rpc);
            case Request::Kind::TransactionManager:
                if (!session_) {
                    sendError(kErrProtocol, 16,
                              "A transaction manager request arrived before a successful login.");
                    return false;
                }
                return sendError(kErrUnsupported, 16,
                                 "Transaction manager requests are not supported by this server");
            case Request::Kind::Attention:
                if (r.attentionSeq > attentionAcked_) return sendAttentionAck(r.attentionSeq);
                return true;
            case Request::Kind::Malformed:
                sendError(kErrProtocol, 16, r.error);
                return !r.fatal;
            case Request::Kind::Unknown:
                sendError(kErrUnsupported, 16, r.error);
                return false;
        }
        return false;
    }

    bool handleLogin(const Login7Request& login) {
        version_ = negotiatedVersion(login.tdsVersion);
        const ServerIdentity& identity = server_.options_.identity;
        if (session_) {
            sendError(kErrProtocol, 16, "A second LOGIN7 arrived on a logged-in connection.");
            return false;
        }
        LoginResult result;
        std::unique_ptr<Session> session;
        if (login.integratedSecurity && login.userName.empty()) {
            result.ok = false;
        } else {
            try {
                session = server_.engine_.login(login.userName, login.password, login.database, result);
            } catch (const std::exception&) {
                result.ok = false;
                session.reset();
            }
        }
        if (!result.ok || !session) {
            Message m = result.error;
            if (m.number == 0) {
                m.number = kErrLoginFailed;
                m.severity = 14;
                m.text = "Login failed for user '" + login.userName + "'.";
            }
            ReplyBuilder reply(version_, identity);
            reply.message(m, true);
            reply.done(kDone, done::Error, 0, 0);
            sendPackets(reply.finish(), kDefaultPacketSize);
            return false;
        }
        {
            std::lock_guard lock(sessionMutex_);
            session_ = std::move(session);
        }
        const std::uint32_t granted = negotiatedPacketSize(login.packetSize);
        std::string database = result.database;
        if (database.empty()) database = login.database.empty() ? "QTL" : login.database;
        ReplyBuilder reply(version_, identity);
        reply.envChange(1, database, "master");
        reply.envCollation(identity.collation);
        reply.envChange(2, "us_english", "");
        reply.envChange(4, std::to_string(granted), std::to_string(kDefaultPacketSize));
        reply.loginAck();
        reply.done(kDone, 0, 0, 0);
        const bool ok = sendPackets(reply.finish(), kDefaultPacketSize);
        packetSize_ = granted;
        return ok;
    }

    bool handleRpc(const RpcAction& rpc) {
        switch (rpc.kind) {
            case RpcAction::Kind::Refuse:
                return sendError(rpc.errorNumber, 16, rpc.errorText);
            case RpcAction::Kind::Unprepare: {
                if (preparedHandles_.erase(rpc.handle) == 0)
                    return sendError(kErrUnknownHandle, 16,
                                     "Could not find prepared statement with handle " +
                                         std::to_string(rpc.handle) + ".");
                ReplyBuilder reply(version_, server_.options_.identity);
                reply.returnStatus(0);
                reply.done(kDoneProc, 0, 0, 0);
                return sendPackets(reply.finish(), packetSize_);
            }
            case RpcAction::Kind::Run: break;
        }
        std::int32_t handle = 0;
        if (rpc.returnsHandle) {
            // The handle stays valid even when the statement fails: the client unprepares it.
            handle = nextHandle_;
            nextHandle_ = nextHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : nextHandle_ + 1;
            preparedHandles_.insert(handle);
        }
        return handleBatch(rpc.statement, [&](ReplyBuilder& reply) {
            if (rpc.returnsHandle) reply.returnInt(0, rpc.handleName, handle);
            reply.returnStatus(0);
            reply.done(kDoneProc, 0, 0, 0);
        });
    }

    // Runs a batch and sends its outcome. `rpcTail`, when given, makes it the body of an RPC:
    // it writes the RPC's closing tokens after the batch's own.
    bool handleBatch(const std::string& text,
                     const std::function<void(ReplyBuilder&)>& rpcTail = nullptr) {
        std::uint64_t seen;
        BatchOutcome outcome;
        {
            std::lock_guard lock(sessionMutex_);
            executing_ = true;
            if (readerGone_) session_->cancel();   // nobody is waiting for it (nor will cancel a stall)
        }
        // From here an ATTENTION reaches the session through cancel(), even one that arrives
        // before executeBatch starts; one that came earlier is seen here.
        if (!attentionPending(seen)) {
            try {
                outcome = session_->executeBatch(text);
            } catch (const std::exception& e) {
                outcome = BatchOutcome();
                StatementOutcome st;
                st.failed = true;
                st.messages.push_back(Message{50000, 1, 16, std::string("Internal error: ") + e.what(), "", 1});
                outcome.statements.push_back(std::move(st));
            }
        }
        {
            std::lock_guard lock(sessionMutex_);
            executing_ = false;
            session_->clearCancel();
        }
        if (outcome.dropConnection) return false;   // fault injection: no answer at all
        if (attentionPending(seen)) return sendAttentionAck(seen);  // its output is dropped
        ReplyBuilder reply(version_, server_.options_.identity);
        writeBatchOutcome(reply, outcome, tranDescriptor_, nextDescriptor_, rpcTail != nullptr);
        if (rpcTail) rpcTail(reply);
        Bytes payload = reply.finish();
        return sendReply(payload, reply.tokenStarts());
    }

    Server& server_;
    int fd_;
    std::uint64_t id_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> closing_{false};

    // Reader state.
    std::string user_;
    std::uint32_t clientVersion_ = 0x74000004;

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<Request> queue_;
    bool readerDone_ = false;

    std::atomic<std::uint64_t> attentionReceived_{0};
    std::uint64_t attentionAcked_ = 0;  // worker only

    std::mutex sessionMutex_;  // guards session_ replacement and executing_ against cancel()
    std::unique_ptr<Session> session_;
    bool executing_ = false;
    bool readerGone_ = false;   // the client closed or the server stops: batches still queued are cancelled

    // Worker state.
    std::uint32_t version_ = 0x74000004;
    std::size_t packetSize_ = kDefaultPacketSize;
    std::uint64_t tranDescriptor_ = 0;
    std::uint64_t nextDescriptor_ = 1;
    std::set<std::int32_t> preparedHandles_;
    std::int32_t nextHandle_ = 1;
};

Server::Server(Engine& engine, ServerOptions options)
    : engine_(engine), options_(std::move(options)) {}

Server::~Server() {
    stop();
    reap(true);
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : wakePipe_)
        if (fd >= 0) ::close(fd);
}

void Server::bind() {
    if (!options_.logPath.empty() && !log_.open(options_.logPath))
        throw std::runtime_error("cannot open log file " + options_.logPath + ": " + std::strerror(errno));
    if (::pipe(wakePipe_) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    ::fcntl(wakePipe_[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(wakePipe_[1], F_SETFD, FD_CLOEXEC);

    sockaddr_storage addr{};
    socklen_t addrLen = 0;
    int family = AF_INET;
    if (options_.port < 0 || options_.port > 65535)
        throw std::runtime_error("invalid port " + std::to_string(options_.port));
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (::inet_pton(AF_INET, options_.listenAddress.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(options_.port));
        addrLen = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, options_.listenAddress.c_str(), &v6->sin6_addr) == 1) {
        family = AF_INET6;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(options_.port));
        addrLen = sizeof(sockaddr_in6);
    } else {
        throw std::runtime_error("invalid listen address " + options_.listenAddress);
    }
    listenFd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0)
        throw std::runtime_error("cannot bind " + options_.listenAddress + ":" +
                                 std::to_string(options_.port) + ": " + std::strerror(errno));
    if (::listen(listenFd_, 64) != 0) throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &boundLen);
    port_ = family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port)
                              : ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
}

void Server::stop() {
    if (stopping_.exchange(true)) return;
    if (wakePipe_[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t r = ::write(wakePipe_[1], &c, 1);
    }
}

void Server::reap(bool all) {
    std::list<Running> done;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all) it->connection->stopReading();
            if (all || it->connection->finished()) {
                done.splice(done.end(), connections_, it++);
            } else {
                ++it;
            }
        }
    }
    for (auto& r : done)
        if (r.thread.joinable()) r.thread.join();
}

void Server::run() {
    if (listenFd_ < 0) throw std::runtime_error("server is not bound");
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int n = ::poll(fds, 2, 1000);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        reap(false);
        if (stopping_ || (fds[1].revents & POLLIN)) break;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        // Replies are small and latency matters more than coalescing.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_shared<Connection>(*this, fd, nextSession_++);
        std::lock_guard lock(connectionsMutex_);
        connections_.push_back(Running{connection, std::thread([connection] { connection->run(); })});
    }
    ::close(listenFd_);
    listenFd_ = -1;
    reap(true);
}

}  // namespace devserver::tds
