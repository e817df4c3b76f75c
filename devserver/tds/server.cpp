#include "server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
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
#include <system_error>
#include <sys/socket.h>
#include <unistd.h>

namespace devserver::tds {

namespace {

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
    std::string error;
    bool fatal = false;  // Malformed: the stream cannot be trusted any more
    std::uint8_t encryption = encrypt::NotSupported;  // PreLogin: what the reply announces
    std::uint64_t attentionSeq = 0;
    std::size_t queuedBytes = 0;
};

const char* const kNoTaskText =
    "SQL Server was unable to run a new system task, either because there is insufficient memory or the number "
    "of configured sessions exceeds the maximum allowed in the server.";

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

}  // namespace

class Connection {
public:
    Connection(Server& server, int fd, std::uint64_t id)
        : server_(server), fd_(fd), id_(id), accepted_(std::chrono::steady_clock::now()) {}
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }

    void run() {
        std::thread worker;
        try {
            worker = server_.startThread([this] { work(); });
        } catch (const std::system_error&) {
            // No thread for this connection's worker: it is refused, every other session goes on.
            sendRefusal(sqlerr::NoTask, kNoTaskText);
            ::shutdown(fd_, SHUT_RDWR);
            finished_ = true;
            --server_.live_;
            return;
        }
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
        --server_.live_;
    }

    // The server stops: the session is cut whatever the client does (a client that does not read
    // would otherwise hold a blocked send for ever); a running statement is cancelled and an open
    // transaction rolls back as the session closes.
    void abort() {
        closing_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        {
            std::lock_guard lock(sessionMutex_);
            readerGone_ = true;
            if (executing_ && session_) session_->cancel();
        }
        { std::lock_guard lock(queueMutex_); }
        queueCv_.notify_all();
        spaceCv_.notify_all();
    }
    bool finished() const { return finished_; }

    // An error reply before anything else, then the end of the connection (limits, no thread).
    void sendRefusal(std::int32_t number, const std::string& text) {
        Bytes wire = packetize(packet::Reply, buildErrorReply(0x74000004, server_.options_.identity, number, 16, text),
                               kDefaultPacketSize, 0);
        [[maybe_unused]] ssize_t r = ::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

private:
    // ---- reader side ---------------------------------------------------------------------
    // Nothing a client sends before its login succeeded is logged: it is nobody's to read, and
    // anyone who can connect could fill the disk with it.
    // The account is the one the login established (loggedAccount_, written once before
    // loggedIn_), never the name as the client spelled it.
    void logRequest(const char* kind, const std::string& text) {
        if (loggedIn_) server_.log_.write(id_, kind, loggedAccount_, text);
    }
    // Worker side: the refusal is logged, never what the client sent.
    void logRefusal(const std::string& why) { server_.log_.write(id_, "refused", sessionUser_, why); }

    // Queues a request for the worker. A client that pipelines more than the session may hold
    // waits, as it would for a server that reads one request at a time: the reader stops reading
    // until the worker has taken some. ATTENTION is never held back.
    void push(Request r) {
        const std::size_t size = r.text.size() + r.rpc.statement.size() + r.rpc.logText.size();
        const bool counted = r.kind != Request::Kind::Attention;
        {
            std::unique_lock lock(queueMutex_);
            if (counted)
                spaceCv_.wait(lock, [&] {
                    return closing_ || queue_.empty() ||
                           (queue_.size() < static_cast<std::size_t>(server_.options_.maxQueuedRequests) &&
                            queuedBytes_ + size <= server_.options_.maxQueuedBytes);
                });
            if (counted) ++pending_;
            queuedBytes_ += size;
            r.queuedBytes = size;
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

    // The time by which the message now being read must have arrived: before login the whole
    // login must be done within the login timeout (a client sending a byte a second gains
    // nothing); once logged in, a session with no request open may stay idle that long, counted
    // from when it fell idle. Asked again while waiting, because the worker changes the answer:
    // the reader starts waiting for the next message while the login is still being checked,
    // and a login deadline taken then would cut the session later however busy it is.
    Clock::time_point messageDeadline() {
        const ServerOptions& o = server_.options_;
        if (!loggedIn_) {
            idleSince_.reset();
            return o.loginTimeoutSeconds > 0 ? accepted_ + std::chrono::seconds(o.loginTimeoutSeconds) : kNoDeadline;
        }
        if (o.idleTimeoutSeconds <= 0 || pending_ > 0) {
            idleSince_.reset();
            return kNoDeadline;
        }
        if (!idleSince_) idleSince_ = Clock::now();
        return *idleSince_ + std::chrono::seconds(o.idleTimeoutSeconds);
    }

    // Reads exactly n bytes before the deadline; false on timeout, close, error or stop. The rest
    // of a message must come by the deadline its first byte was awaited with.
    // Decrypted bytes not yet taken come first; in a fully encrypted session the socket brings
    // TLS records, decrypted one at a time.
    bool recvBefore(std::uint8_t* buf, std::size_t n, Clock::time_point& deadline, bool messageStart) {
        std::size_t got = takeUnread(buf, n);
        if (!sessionTls_) return got == n || recvRaw(buf + got, n - got, deadline, messageStart && got == 0);
        // A message may start inside a record already decrypted: its deadline starts here.
        if (messageStart) deadline = messageDeadline();
        while (got < n) {
            if (!readTlsRecord(deadline, messageStart && got == 0)) return false;
            got += takeUnread(buf + got, n - got);
        }
        return true;
    }

    std::size_t takeUnread(std::uint8_t* buf, std::size_t n) {
        const std::size_t got = std::min(n, unread_.size());
        if (got > 0) {
            std::copy_n(unread_.begin(), got, buf);
            unread_.erase(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(got));
        }
        return got;
    }

    // One TLS record of a fully encrypted session, decrypted into unread_. A record that makes
    // the server answer by itself (a renegotiation attempt) ends the session: the answer would
    // have to be sent from this thread between the worker's records.
    bool readTlsRecord(Clock::time_point& deadline, bool messageStart) {
        std::uint8_t record[kTlsRecordHeaderSize + 16384 + 2048];
        if (!recvRaw(record, kTlsRecordHeaderSize, deadline, messageStart)) return false;
        const std::size_t size = tlsRecordSize(record);
        if (size == 0) return false;
        if (!recvRaw(record + kTlsRecordHeaderSize, size - kTlsRecordHeaderSize, deadline, false)) return false;
        std::lock_guard lock(tlsMutex_);
        sessionTls_->feed(record, size);
        std::string error;
        return sessionTls_->readPlain(unread_, error) && sessionTls_->takeOutput().empty();
    }

    // Reads exactly n bytes from the socket before the deadline; false on timeout, close, error
    // or stop.
    bool recvRaw(std::uint8_t* buf, std::size_t n, Clock::time_point& deadline, bool messageStart) {
        std::size_t got = 0;
        while (got < n) {
            if (closing_) return false;
            if ((messageStart && got == 0) || deadline == kNoDeadline) deadline = messageDeadline();
            int ms = 1000;
            if (deadline != kNoDeadline) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                if (left <= 0) return false;
                ms = static_cast<int>(std::min<long long>(left, 1000));
            }
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, ms);
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) continue;
            const ssize_t r = ::recv(fd_, buf + got, n - got, MSG_DONTWAIT);
            if (r > 0)
                got += static_cast<std::size_t>(r);
            else if (r == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
                return false;
        }
        return true;
    }

    void read() {
        Reassembler reassembler(server_.options_.maxPreLoginRequestBytes);
        std::uint8_t header[kHeaderSize];
        Bytes packetBuf;
        bool messageStart = true;
        Clock::time_point deadline = kNoDeadline;
        bool limitRaised = false;
        while (!closing_) {
            if (messageStart) idleSince_.reset();
            if (!recvBefore(header, kHeaderSize, deadline, messageStart)) return;
            // Decided once the packet is here: the login may have succeeded while the reader
            // waited for it.
            if (!limitRaised && loggedIn_) {
                reassembler.setLimit(server_.options_.maxRequestBytes);
                limitRaised = true;
            }
            PacketHeader h;
            std::string error;
            if (!parseHeader(header, kHeaderSize, h, error)) {
                pushMalformed("Malformed request: " + error + ".", true);
                return;
            }
            packetBuf.assign(header, header + kHeaderSize);
            packetBuf.resize(h.length);
            if (!recvBefore(packetBuf.data() + kHeaderSize, h.length - kHeaderSize, deadline, false)) return;
            switch (reassembler.addPacket(packetBuf.data(), packetBuf.size(), error)) {
            case Reassembler::Status::NeedMore: messageStart = false; continue;
            case Reassembler::Status::Error: pushMalformed("Malformed request: " + error + ".", true); return;
            case Reassembler::Status::Complete: break;
            }
            messageStart = true;
            if (!dispatch(reassembler.take())) return;
            if (tlsLoginNext_) {
                tlsLoginNext_ = false;
                if (!loginThroughTls()) return;
            }
        }
    }

    // The login in TLS, as SQL Server does when encryption is available but not forced: the
    // handshake travels inside PRELOGIN packets; then the client sends the first packet of its
    // LOGIN7 as bare TLS records, drops TLS and goes on in clear. That packet, decrypted, is put
    // in front of whatever the socket brings next, so the ordinary reading takes over from there.
    // When the client asked for encryption, TLS stays instead, for every byte both ways.
    // The handshake counts against the pre-login size limit and the login deadline. False ends
    // the connection (a failure leaves a "refused" line in the request log).
    bool loginThroughTls() {
        TlsLogin login;
        try {
            login.tls = std::make_unique<TlsSession>(*server_.options_.tls);
        } catch (const std::exception& e) {
            return tlsLoginFailed(e.what());
        }
        if (!tlsHandshake(login)) return login.failure.empty() ? false : tlsLoginFailed(login.failure);
        if (tlsWholeSession_) {
            // From here every byte both ways is TLS: the login, its answer and the whole session.
            std::lock_guard lock(tlsMutex_);
            sessionTls_ = std::move(login.tls);
            return true;
        }
        Bytes plain;
        if (!readTlsLoginPacket(login, plain)) return login.failure.empty() ? false : tlsLoginFailed(login.failure);
        unread_.insert(unread_.begin(), plain.begin(), plain.end());
        return true;
    }

    // The TLS login under way: the session, the bytes it has taken against the pre-login limit,
    // and why it failed (empty when the client went or the deadline passed: nothing to log).
    struct TlsLogin {
        std::unique_ptr<TlsSession> tls;
        Clock::time_point deadline = kNoDeadline;  // kept by recvBefore across both steps
        std::size_t received = 0;
        std::string failure;
    };

    bool tlsLoginFailed(const std::string& why) {
        server_.log_.write(id_, "refused", "", "TLS handshake failed: " + why);
        return false;
    }

    // The handshake, carried in PRELOGIN packets both ways.
    bool tlsHandshake(TlsLogin& login) {
        std::uint8_t header[kHeaderSize];
        Bytes body;
        while (true) {
            if (!recvBefore(header, kHeaderSize, login.deadline, true)) return false;
            PacketHeader h;
            if (!parseHeader(header, kHeaderSize, h, login.failure)) return false;
            if (h.type != packet::PreLogin) {
                char buf[80];
                std::snprintf(buf, sizeof buf, "a packet of type 0x%02x arrived instead of the handshake", h.type);
                login.failure = buf;
                return false;
            }
            login.received += h.length;
            if (login.received > server_.options_.maxPreLoginRequestBytes) {
                login.failure = "the handshake is too large";
                return false;
            }
            body.resize(h.length - kHeaderSize);
            if (!recvBefore(body.data(), body.size(), login.deadline, false)) return false;
            login.tls->feed(body.data(), body.size());
            std::string error;
            const TlsSession::Step step = login.tls->handshake(error);
            // The server's flights (and an alert when the handshake failed) go back in PRELOGIN
            // packets too. The worker is idle meanwhile: it sent the PRELOGIN answer before the
            // client could start the handshake.
            const Bytes out = login.tls->takeOutput();
            if (!out.empty()) {
                const Bytes wire = packetize(packet::PreLogin, out, kDefaultPacketSize, spid());
                if (!transmit(wire.data(), wire.size())) return false;
            }
            if (step == TlsSession::Step::Failed) {
                login.failure = error;
                return false;
            }
            if (step == TlsSession::Step::Done) return true;
            // A message that ends inside a TLS record is not a handshake: nothing more of it
            // will come, so waiting would only hold the connection until the login deadline.
            if ((h.status & kStatusEom) && login.tls->holdsPartialRecord()) {
                login.failure = "the handshake message ended inside a TLS record";
                return false;
            }
        }
    }

    // The first LOGIN7 packet, sent as bare TLS records, decrypted into `plain`.
    bool readTlsLoginPacket(TlsLogin& login, Bytes& plain) {
        std::string error;
        std::uint8_t recordHeader[kTlsRecordHeaderSize];
        Bytes body;
        while (true) {
            if (plain.size() >= kHeaderSize) {
                PacketHeader h;
                if (!parseHeader(plain.data(), plain.size(), h, error)) {
                    login.failure = "the login packet: " + error;
                    return false;
                }
                if (plain.size() >= h.length) return true;
            }
            if (!recvBefore(recordHeader, sizeof recordHeader, login.deadline, true)) return false;
            const std::size_t size = tlsRecordSize(recordHeader);
            if (size == 0) {
                login.failure = "the login did not arrive in TLS";
                return false;
            }
            login.received += size;
            if (login.received > server_.options_.maxPreLoginRequestBytes) {
                login.failure = "the login is too large";
                return false;
            }
            body.assign(recordHeader, recordHeader + sizeof recordHeader);
            body.resize(size);
            if (!recvBefore(body.data() + sizeof recordHeader, size - sizeof recordHeader, login.deadline, false))
                return false;
            login.tls->feed(body.data(), body.size());
            if (!login.tls->readPlain(plain, error)) {
                login.failure = error;
                return false;
            }
        }
    }

    // Parses one message, logs it and queues it; false when reading must stop.
    bool dispatch(const ClientMessage& m) {
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
            decideEncryption(pre, r);
            push(std::move(r));
            return true;
        }
        case packet::Login7: {
            if (!parseLogin7(m.payload, r.login, error)) {
                pushMalformed("Malformed LOGIN7 request: " + error + ".", true);
                return false;
            }
            clientVersion_ = r.login.tdsVersion;
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
            // The worker logs it when it takes it, with the session's state at that moment,
            // and decides about --drop-on only once the session is logged in.
            r.kind = Request::Kind::Batch;
            push(std::move(r));
            return true;
        }
        case packet::Rpc: {
            r.rpc = planRpc(m.payload, hasAllHeaders(clientVersion_));
            r.kind = Request::Kind::Rpc;
            push(std::move(r));
            return true;
        }
        case packet::TransactionManager:
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

    // What the PRELOGIN answer says about encryption, as SQL Server with a certificate answers
    // when encryption is not forced: a client that can encrypt but does not insist (ENCRYPTION
    // off) gets its login in TLS; one that asks for it (on, required) gets the whole session in
    // TLS; one that cannot encrypt logs in in clear. Negotiated once per connection.
    void decideEncryption(const PreLoginRequest& pre, Request& r) {
        r.encryption = encrypt::NotSupported;
        if (!server_.options_.tls || tlsNegotiated_ || loggedIn_) return;
        // 0x80 is TDS 8's client-certificate flag, which is not offered here.
        const std::uint8_t asked =
            pre.encryption ? static_cast<std::uint8_t>(*pre.encryption & 0x7F) : encrypt::NotSupported;
        if (asked == encrypt::Off) {
            r.encryption = encrypt::Off;
            tlsNegotiated_ = true;
            tlsLoginNext_ = !server_.options_.stallLogin;
        } else if (asked == encrypt::On || asked == encrypt::Required) {
            r.encryption = encrypt::On;
            tlsNegotiated_ = true;
            tlsWholeSession_ = true;
            tlsLoginNext_ = !server_.options_.stallLogin;
        }
    }

    // ---- worker side ---------------------------------------------------------------------
    bool pop(Request& r) {
        std::unique_lock lock(queueMutex_);
        queueCv_.wait(lock, [this] { return !queue_.empty() || readerDone_ || closing_; });
        if (closing_ || queue_.empty()) return false;
        r = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= r.queuedBytes;
        spaceCv_.notify_all();
        return true;
    }

    void work() {
        Request r;
        while (pop(r)) {
            const bool ok = handle(r);
            if (r.kind != Request::Kind::Attention) --pending_;
            if (!ok) {
                closing_ = true;
                ::shutdown(fd_, SHUT_RDWR);
                queueCv_.notify_all();
                spaceCv_.notify_all();
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

    // Sends bytes as they are, or as TLS records in a fully encrypted session. Only one thread
    // sends at a time (the reader during the handshake, while the worker waits for the login;
    // the worker afterwards), so the records leave in the order they were made.
    bool transmit(const std::uint8_t* data, std::size_t n) {
        Bytes wire;
        {
            std::lock_guard lock(tlsMutex_);
            if (!sessionTls_) return sendAll(fd_, data, n);
            if (!sessionTls_->write(data, n)) return false;
            wire = sessionTls_->takeOutput();
        }
        return sendAll(fd_, wire.data(), wire.size());
    }

    bool sendPackets(const Bytes& payload, std::size_t packetSize) {
        Bytes wire = packetize(packet::Reply, payload, packetSize, spid());
        return transmit(wire.data(), wire.size());
    }

    bool sendError(std::int32_t number, std::uint8_t severity, const std::string& text) {
        return sendPackets(buildErrorReply(version_, server_.options_.identity, number, severity, text), packetSize_);
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
            if (!transmit(one.data(), one.size())) return false;
            pos += n;
        }
        return true;
    }

    // Handles one request; false closes the connection.
    bool handle(const Request& r) {
        switch (r.kind) {
        case Request::Kind::PreLogin:
            if (server_.options_.stallLogin) return true;  // the client's login times out
            return sendPackets(buildPreLoginReply(r.encryption), kDefaultPacketSize);
        case Request::Kind::Login:
            if (server_.options_.stallLogin) return true;
            return handleLogin(r.login);
        case Request::Kind::Batch: {
            if (!session_) return refuseBeforeLogin("A SQL batch arrived before a successful login.");
            // Logged here rather than by the reader: the worker is the only one running
            // batches, so the state it records is exactly what the previous batch left.
            server_.log_.write(id_, "batch", sessionUser_, server_.engine_.redactForLog(r.text),
                               SessionState{session_->tranCount(), session_->xactAbort()});
            // Fault injection: the connection goes away without an answer.
            if (server_.options_.dropOn && server_.options_.dropOn->matches(r.text)) return false;
            return handleBatch(r.text);
        }
        case Request::Kind::Rpc:
            if (!session_) return refuseBeforeLogin("An RPC request arrived before a successful login.");
            server_.log_.write(id_, "rpc", sessionUser_, server_.engine_.redactForLog(r.rpc.logText));
            return handleRpc(r.rpc);
        case Request::Kind::TransactionManager:
            if (!session_) return refuseBeforeLogin("A transaction manager request arrived before a successful login.");
            server_.log_.write(id_, "other", sessionUser_, "transaction manager request");
            return sendError(sqlerr::UnsupportedRequest, 16,
                             "Transaction manager requests are not supported by this server");
        case Request::Kind::Attention:
            if (r.attentionSeq > attentionAcked_) return sendAttentionAck(r.attentionSeq);
            return true;
        case Request::Kind::Malformed:
            if (!session_) logRefusal(r.error);
            sendError(sqlerr::MalformedRequest, 16, r.error);
            return !r.fatal;
        case Request::Kind::Unknown: sendError(sqlerr::UnsupportedRequest, 16, r.error); return false;
        }
        return false;
    }

    bool refuseBeforeLogin(const std::string& why) {
        logRefusal(why);
        sendError(sqlerr::MalformedRequest, 16, why);
        return false;
    }

    bool handleLogin(const Login7Request& login) {
        if (session_) {
            // The session, and the account its log lines name, stay as they are.
            sendError(sqlerr::MalformedRequest, 16, "A second LOGIN7 arrived on a logged-in connection.");
            return false;
        }
        version_ = negotiatedVersion(login.tdsVersion);
        sessionUser_ = login.userName;
        const ServerIdentity& identity = server_.options_.identity;
        LoginResult result;
        std::unique_ptr<Session> session;
        std::string shortage;  // why the engine could not start a session, for the log
        if (login.integratedSecurity && login.userName.empty()) {
            result.ok = false;
        } else {
            try {
                session = server_.engine_.login(login.userName, login.password, login.database, result);
                if (session) session->setSpid(spid());  // what @@SPID answers: the packets' SPID
            } catch (const std::exception& e) {
                // The server could not take the session (out of descriptors or memory): saying
                // "Login failed" would send the operator after a password that may be right.
                result.ok = false;
                result.error = makeMessage(sqlerr::NoTask, 16, kNoTaskText);
                shortage = e.what();
                session.reset();
            }
        }
        if (!result.ok || !session) {
            Message m = result.error;
            if (m.number == 0) {
                m.number = sqlerr::LoginFailed;
                m.severity = 14;
                m.text = "Login failed for user '" + login.userName + "'.";
            }
            logRefusal(shortage.empty() ? m.text : m.text + " (" + shortage + ")");
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
        if (!result.account.empty()) sessionUser_ = result.account;  // the account, however spelled
        server_.log_.write(id_, "login", sessionUser_, login.database);
        loggedAccount_ = sessionUser_;
        loggedIn_ = true;  // publishes loggedAccount_ to the reader
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
        case RpcAction::Kind::Refuse: return sendError(rpc.errorNumber, 16, rpc.errorText);
        case RpcAction::Kind::Unprepare: {
            if (preparedHandles_.erase(rpc.handle) == 0)
                return sendError(sqlerr::UnknownHandle, 16,
                                 "Could not find prepared statement with handle " + std::to_string(rpc.handle) + ".");
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
    bool handleBatch(const std::string& text, const std::function<void(ReplyBuilder&)>& rpcTail = nullptr) {
        std::uint64_t seen;
        BatchOutcome outcome;
        {
            std::lock_guard lock(sessionMutex_);
            executing_ = true;
            if (readerGone_) session_->cancel();  // nobody is waiting for it (nor will cancel a stall)
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
                st.messages.push_back(makeMessage(sqlerr::UserDefined, 16, std::string("Internal error: ") + e.what()));
                outcome.statements.push_back(std::move(st));
            }
        }
        {
            std::lock_guard lock(sessionMutex_);
            executing_ = false;
            session_->clearCancel();
        }
        if (outcome.dropConnection) return false;  // fault injection: no answer at all
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
    Clock::time_point accepted_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> closing_{false};

    std::atomic<bool> loggedIn_{false};

    // Reader state.
    std::optional<Clock::time_point> idleSince_;  // when the session last fell idle
    bool tlsNegotiated_ = false;  // a PRELOGIN answer offered TLS: never twice on one connection
    bool tlsLoginNext_ = false;  // the login's TLS handshake comes next
    bool tlsWholeSession_ = false;  // the client asked for encryption: TLS stays after the login
    Bytes unread_;  // decrypted login bytes, read before the socket's
    std::string loggedAccount_;  // written by the worker before loggedIn_ turns true, then fixed
    std::uint32_t clientVersion_ = 0x74000004;

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::condition_variable spaceCv_;
    std::deque<Request> queue_;
    std::size_t queuedBytes_ = 0;
    std::atomic<int> pending_{0};  // requests queued or running (ATTENTION aside)
    bool readerDone_ = false;

    std::atomic<std::uint64_t> attentionReceived_{0};
    std::uint64_t attentionAcked_ = 0;  // worker only

    std::mutex tlsMutex_;  // the reader decrypts while the worker encrypts
    std::unique_ptr<TlsSession> sessionTls_;  // a fully encrypted session's TLS, set once by the reader

    std::mutex sessionMutex_;  // guards session_ replacement and executing_ against cancel()
    std::unique_ptr<Session> session_;
    bool executing_ = false;
    bool readerGone_ = false;  // the client closed or the server stops: batches still queued are cancelled

    // Worker state.
    std::string sessionUser_;
    std::uint32_t version_ = 0x74000004;
    std::size_t packetSize_ = kDefaultPacketSize;
    std::uint64_t tranDescriptor_ = 0;
    std::uint64_t nextDescriptor_ = 1;
    std::set<std::int32_t> preparedHandles_;
    std::int32_t nextHandle_ = 1;
};

Server::Server(Engine& engine, ServerOptions options) : engine_(engine), options_(std::move(options)) {}

Server::~Server() {
    stop();
    reap(true);
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : wakePipe_)
        if (fd >= 0) ::close(fd);
    if (reserveFd_ >= 0) ::close(reserveFd_);
}

void Server::bind() {
    if (!options_.logPath.empty() && !log_.open(options_.logPath, options_.logMaxBytes))
        throw std::runtime_error("cannot open log file " + options_.logPath + ": " + log_.error());
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
        throw std::runtime_error("cannot bind " + options_.listenAddress + ":" + std::to_string(options_.port) + ": " +
                                 std::strerror(errno));
    // Out of descriptors, accept fails and the listener stays readable: this one is given up to
    // take the waiting connection and refuse it instead of spinning on it.
    reserveFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (::listen(listenFd_, 256) != 0) throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
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

std::thread Server::startThread(std::function<void()> body) {
    if (options_.startThread) return options_.startThread(std::move(body));
    return std::thread(std::move(body));
}

void Server::refuse(int fd, std::int32_t number, const std::string& text) {
    Bytes wire = packetize(packet::Reply, buildErrorReply(0x74000004, options_.identity, number, 16, text),
                           kDefaultPacketSize, 0);
    [[maybe_unused]] ssize_t r = ::send(fd, wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
    noteRefusal(text);
}

void Server::noteRefusal(const std::string& text) {
    // Said on stderr once in a while, not once per refused client.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLimitNote_ > std::chrono::seconds(10)) {
        lastLimitNote_ = now;
        std::fprintf(stderr, "qtl-devserver: refusing new connections: %s\n", text.c_str());
    }
}

void Server::reap(bool all) {
    std::list<Running> done;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all) it->connection->abort();
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
        // The spare descriptor could not be had back after the last refusal: try again now.
        if (reserveFd_ < 0) reserveFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                if (reserveFd_ >= 0) {
                    ::close(reserveFd_);
                    reserveFd_ = -1;
                    const int taken = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (taken >= 0) refuse(taken, sqlerr::NoTask, kNoTaskText);
                    reserveFd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                }
            }
            if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) {
                // Whatever the shortage, wait a moment for it to pass rather than spin.
                pollfd wake{wakePipe_[0], POLLIN, 0};
                ::poll(&wake, 1, 100);
            }
            continue;
        }
        if (live_ >= options_.maxConnections) {
            refuse(fd, sqlerr::TooManyConnections,
                   "Could not connect because the maximum number of '" + std::to_string(options_.maxConnections) +
                       "' user connections has already been reached. The system administrator can use sp_configure "
                       "to increase the maximum value. The connection has been closed.");
            continue;
        }
        int one = 1;
        // Replies are small and latency matters more than coalescing.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_shared<Connection>(*this, fd, nextSession_++);
        ++live_;
        try {
            std::thread t = startThread([connection] { connection->run(); });
            std::lock_guard lock(connectionsMutex_);
            connections_.push_back(Running{connection, std::move(t)});
        } catch (const std::system_error&) {
            // No thread to serve it: this connection is refused, the others go on.
            --live_;
            connection->sendRefusal(sqlerr::NoTask, kNoTaskText);
            noteRefusal("no thread could be started for it");
        }
    }
    ::close(listenFd_);
    listenFd_ = -1;
    reap(true);
}

}  // namespace devserver::tds
