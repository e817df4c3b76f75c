// The request log: every request as received, one JSON object per line, so tests can assert
// the exact statements a client sent (and that it sent no RPC).
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace devserver::tds {

// JSON string literal body for UTF-8 text (quotes, backslashes and control characters escaped;
// other characters kept as they are).
std::string jsonEscape(const std::string& text);

// The session's transaction state when a batch started: the state the previous batch left.
struct SessionState {
    int tranCount = 0;
    bool xactAbort = false;
};

// One log line: {"session":N,"kind":"...","user":"...","text":"..."}, for a batch of a
// logged-in session followed by ,"trancount":N,"xact_abort":true|false.
std::string formatLogLine(std::uint64_t session, const std::string& kind, const std::string& user,
                          const std::string& text, const std::optional<SessionState>& state = std::nullopt);

class RequestLog {
public:
    RequestLog() = default;
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Opens FILE for appending, created readable by its owner only (it holds every statement of
    // every session); false, with the reason in error(), when it cannot be opened or is not a
    // regular file of this process's user (its mode is changed only then). Beyond `maxBytes` (counting what the file
    // held already) one closing line says so and nothing more is written: a client must not be
    // able to fill the disk.
    bool open(const std::string& path, std::uint64_t maxBytes = kDefaultMaxBytes);
    static constexpr std::uint64_t kDefaultMaxBytes = 1ull << 30;
    bool isOpen() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }
    // Writes and flushes one line; safe from several sessions at once. Does nothing when closed.
    void write(std::uint64_t session, const std::string& kind, const std::string& user, const std::string& text,
               const std::optional<SessionState>& state = std::nullopt);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t maxBytes_ = kDefaultMaxBytes;
    bool full_ = false;
    std::string error_;
};

}  // namespace devserver::tds
