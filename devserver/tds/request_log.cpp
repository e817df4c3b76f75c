#include "request_log.h"

#include <cinttypes>

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

bool RequestLog::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
}

void RequestLog::write(std::uint64_t session, const std::string& kind, const std::string& user,
                       const std::string& text, const std::optional<SessionState>& state) {
    const std::string line = formatLogLine(session, kind, user, text, state);
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

}  // namespace devserver::tds
