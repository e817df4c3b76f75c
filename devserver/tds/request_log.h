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

    // Opens FILE for appending; false when it cannot be opened.
    bool open(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    // Writes and flushes one line; safe from several sessions at once. Does nothing when closed.
    void write(std::uint64_t session, const std::string& kind, const std::string& user,
               const std::string& text, const std::optional<SessionState>& state = std::nullopt);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
};

}  // namespace devserver::tds
