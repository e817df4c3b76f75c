#include "request_log.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace devserver::tds {

std::string jsonEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out;
}

std::string formatLogLine(std::uint64_t session, const std::string& kind, const std::string& user,
                          const std::string& text, const std::optional<SessionState>& state) {
    std::string line = "{\"session\":" + std::to_string(session) + ",\"kind\":\"" + jsonEscape(kind) +
                       "\",\"user\":\"" + jsonEscape(user) + "\",\"text\":\"" + jsonEscape(text) + "\"";
    if (state)
        line += ",\"trancount\":" + std::to_string(state->tranCount) +
                ",\"xact_abort\":" + (state->xactAbort ? "true" : "false");
    return line + "}\n";
}

RequestLog::~RequestLog() {
    if (file_) std::fclose(file_);
}

bool RequestLog::open(const std::string& path, std::uint64_t maxBytes) {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
    // O_NONBLOCK: a FIFO named here must not hang the start; it is refused below like any other
    // file that is not a regular one of ours (a device, say, whose mode must never change).
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) {
        // A directory, or a FIFO nobody reads.
        error_ = errno == EISDIR || errno == ENXIO ? "not a regular file" : std::strerror(errno);
        return false;
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    if (known && !S_ISREG(st.st_mode))
        error_ = "not a regular file";
    else if (known && st.st_uid != ::geteuid())
        error_ = "the file belongs to another user";
    // A log left by an earlier run may have been created with wider rights. (Without a known
    // file, errno is still fstat's.)
    else if (!known || ::fchmod(fd, 0600) != 0 || ::fcntl(fd, F_SETFL, O_APPEND) != 0)
        error_ = std::strerror(errno);
    else
        error_.clear();
    if (!error_.empty()) {
        ::close(fd);
        return false;
    }
    file_ = ::fdopen(fd, "ab");
    if (!file_) {
        error_ = std::strerror(errno);
        ::close(fd);
        return false;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    maxBytes_ = maxBytes;
    full_ = false;
    return true;
}

void RequestLog::write(std::uint64_t session, const std::string& kind, const std::string& user, const std::string& text,
                       const std::optional<SessionState>& state) {
    const std::string line = formatLogLine(session, kind, user, text, state);
    std::lock_guard lock(mutex_);
    if (!file_ || full_) return;
    static const std::string closing =
        formatLogLine(0, "other", "", "the log reached its size limit: later requests are not logged");
    if (size_ + line.size() + closing.size() > maxBytes_) {
        full_ = true;
        if (size_ + closing.size() <= maxBytes_) {
            std::fwrite(closing.data(), 1, closing.size(), file_);
            size_ += closing.size();
        }
        std::fflush(file_);
        std::fprintf(stderr,
                     "qtl-devserver: the request log reached its size limit (%" PRIu64
                     " bytes); later requests are not logged\n",
                     maxBytes_);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
    size_ += line.size();
}

}  // namespace devserver::tds
