#include "codec.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace devserver::tds {

namespace {

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void put8(Bytes& out, std::uint8_t v) {
    out.push_back(v);
}
void put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put64(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void set16(Bytes& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// B_VARCHAR: one length byte (characters), UCS-2LE.
void putBVarchar(Bytes& out, const std::string& text) {
    std::u16string u = truncateUtf16(utf8ToUtf16(text), 255);
    put8(out, static_cast<std::uint8_t>(u.size()));
    appendUtf16le(out, u);
}
// US_VARCHAR: two length bytes (characters), UCS-2LE.
void putUsVarchar(Bytes& out, const std::u16string& u) {
    put16(out, static_cast<std::uint16_t>(u.size()));
    appendUtf16le(out, u);
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

bool parseInt64(const std::string& text, std::int64_t& out) {
    std::string t = trim(text);
    const char* b = t.data();
    const char* e = b + t.size();
    if (b != e && *b == '+') ++b;
    if (b == e) return false;
    auto [p, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && p == e;
}

bool parseDouble(const std::string& text, double& out) {
    std::string t = trim(text);
    const char* b = t.data();
    const char* e = b + t.size();
    if (b != e && *b == '+') ++b;
    if (b == e) return false;
    auto [p, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && p == e && std::isfinite(out);
}

// Whole-number view of a cell, for integer and bit columns.
bool toInt64(const Value& v, std::int64_t& out) {
    if (auto i = std::get_if<std::int64_t>(&v)) {
        out = *i;
        return true;
    }
    if (auto d = std::get_if<double>(&v)) {
        // The server truncates toward zero when a float goes into an integer column.
        if (!std::isfinite(*d) || *d >= 9223372036854775808.0 || *d < -9223372036854775808.0) return false;
        out = static_cast<std::int64_t>(*d);
        return true;
    }
    if (auto s = std::get_if<std::string>(&v)) return parseInt64(*s, out);
    return false;
}

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

const std::int64_t kDay1900 = daysFromCivil(1900, 1, 1);
const std::int64_t kMinDays = daysFromCivil(1753, 1, 1) - kDay1900;
const std::int64_t kMaxDays = daysFromCivil(9999, 12, 31) - kDay1900;
constexpr std::uint32_t kTicksPerDay = 300u * 86400u;

bool digitsAt(const std::string& s, std::size_t at, std::size_t n, unsigned& out) {
    if (at + n > s.size()) return false;
    out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char c = s[at + i];
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Text

std::string utf16leToUtf8(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve(size);
    const std::size_t n = size / 2;
    auto emit = [&out](std::uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t u = le16(data + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < n) {
                std::uint32_t lo = le16(data + 2 * (i + 1));
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    emit(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                    ++i;
                    continue;
                }
            }
            emit(0xFFFD);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            emit(0xFFFD);
        } else {
            emit(u);
        }
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        std::uint32_t cp;
        std::size_t len;
        std::uint32_t min;
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F, len = 2, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, len = 3, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07, len = 4, min = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += k;  // skip the lead byte and the continuation bytes that belonged to it
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

void appendUtf16le(Bytes& out, const std::u16string& text) {
    for (char16_t c : text) put16(out, static_cast<std::uint16_t>(c));
}

std::u16string truncateUtf16(std::u16string text, std::size_t maxUnits) {
    if (text.size() <= maxUnits) return text;
    std::size_t cut = maxUnits;
    if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    text.resize(cut);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Framing

bool parseHeader(const std::uint8_t* data, std::size_t size, PacketHeader& h, std::string& error) {
    if (size < kHeaderSize) {
        error = "packet header truncated";
        return false;
    }
    h.type = data[0];
    h.status = data[1];
    h.length = be16(data + 2);
    h.spid = be16(data + 4);
    h.packetId = data[6];
    h.window = data[7];
    if (h.length < kHeaderSize) {
        error = "packet length " + std::to_string(h.length) + " is shorter than its header";
        return false;
    }
    return true;
}

Reassembler::Status Reassembler::addPacket(const std::uint8_t* packet, std::size_t size, std::string& error) {
    // Between messages nothing is kept: every way out of a message resets `current_`.
    assert(inProgress_ || current_.payload.empty());
    PacketHeader h;
    auto fail = [&](const std::string& why) {
        error = why;
        inProgress_ = false;
        current_ = ClientMessage();
        return Status::Error;
    };
    if (!parseHeader(packet, size, h, error)) return fail(error);
    if (h.length != size) return fail("packet length field does not match the packet");
    const std::uint8_t* body = packet + kHeaderSize;
    const std::size_t bodySize = size - kHeaderSize;
    if (h.type == packet::Attention) {
        // Attention cancels whatever the client was sending.
        inProgress_ = false;
        current_ = ClientMessage();
        done_ = ClientMessage{h.type, h.spid, Bytes(body, body + bodySize)};
        return Status::Complete;
    }
    if (!inProgress_) {
        current_ = ClientMessage{h.type, h.spid, {}};
        inProgress_ = true;
    } else if (h.type != current_.type) {
        return fail("packet type changed inside a message");
    }
    if (current_.payload.size() + bodySize > maxMessage_) return fail("request is too large");
    current_.payload.insert(current_.payload.end(), body, body + bodySize);
    assert(current_.payload.size() <= maxMessage_);
    current_.spid = h.spid;
    if (h.status & kStatusEom) {
        done_ = std::move(current_);
        current_ = ClientMessage();
        inProgress_ = false;
        return Status::Complete;
    }
    return Status::NeedMore;
}

ClientMessage Reassembler::take() {
    ClientMessage m = std::move(done_);
    done_ = ClientMessage();
    return m;
}

bool splitMessages(const std::uint8_t* data, std::size_t size, std::vector<ClientMessage>& out, std::string& error) {
    Reassembler r;
    std::size_t pos = 0;
    while (size - pos >= kHeaderSize) {
        PacketHeader h;
        if (!parseHeader(data + pos, size - pos, h, error)) return false;
        if (h.length > size - pos) break;
        switch (r.addPacket(data + pos, h.length, error)) {
        case Reassembler::Status::Error: return false;
        case Reassembler::Status::Complete: out.push_back(r.take()); break;
        case Reassembler::Status::NeedMore: break;
        }
        pos += h.length;
    }
    return true;
}

Bytes packetize(std::uint8_t type, const std::uint8_t* payload, std::size_t size, std::size_t packetSize,
                std::uint16_t spid, bool lastIsEom) {
    if (packetSize < kHeaderSize + 1) packetSize = kHeaderSize + 1;
    if (packetSize > 0xFFFF) packetSize = 0xFFFF;
    const std::size_t chunk = packetSize - kHeaderSize;
    Bytes out;
    out.reserve(size + (size / chunk + 1) * kHeaderSize);
    std::size_t pos = 0;
    std::uint8_t id = 1;
    do {
        const std::size_t n = std::min(chunk, size - pos);
        const bool last = pos + n == size;
        const std::size_t len = n + kHeaderSize;
        out.push_back(type);
        out.push_back(last && lastIsEom ? kStatusEom : 0);
        out.push_back(static_cast<std::uint8_t>(len >> 8));
        out.push_back(static_cast<std::uint8_t>(len));
        out.push_back(static_cast<std::uint8_t>(spid >> 8));
        out.push_back(static_cast<std::uint8_t>(spid));
        out.push_back(id++);
        out.push_back(0);
        if (n) out.insert(out.end(), payload + pos, payload + pos + n);
        pos += n;
    } while (pos < size);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Requests

namespace {
// PRELOGIN option tokens.
namespace prelogin {
constexpr std::uint8_t Version = 0x00;
constexpr std::uint8_t Encryption = 0x01;
constexpr std::uint8_t Mars = 0x04;
constexpr std::uint8_t Terminator = 0xFF;
}  // namespace prelogin
}  // namespace

bool parsePreLogin(const Bytes& p, PreLoginRequest& out, std::string& error) {
    out = PreLoginRequest();
    std::size_t pos = 0;
    while (true) {
        if (pos >= p.size()) {
            error = "PRELOGIN option list is not terminated";
            return false;
        }
        const std::uint8_t token = p[pos];
        if (token == prelogin::Terminator) return true;
        if (p.size() - pos < 5) {
            error = "PRELOGIN option truncated";
            return false;
        }
        const std::size_t off = be16(&p[pos + 1]);
        const std::size_t len = be16(&p[pos + 3]);
        if (off > p.size() || len > p.size() - off) {
            error = "PRELOGIN option points outside the packet";
            return false;
        }
        switch (token) {
        case prelogin::Version:
            if (len < 6) {
                error = "PRELOGIN VERSION too short";
                return false;
            }
            out.hasVersion = true;
            break;
        case prelogin::Encryption:
            if (len < 1) {
                error = "PRELOGIN ENCRYPTION empty";
                return false;
            }
            out.encryption = p[off];
            break;
        case prelogin::Mars:
            if (len >= 1) out.mars = p[off] != 0;
            break;
        default: break;  // INSTOPT, THREADID, TRACEID, FEDAUTH...: not needed
        }
        pos += 5;
    }
}

Bytes buildPreLoginReply(std::uint8_t encryption) {
    // VERSION at 11 (6 bytes), ENCRYPTION at 17 (1 byte), terminator.
    return Bytes{prelogin::Version,
                 0x00,
                 0x0b,
                 0x00,
                 0x06,
                 prelogin::Encryption,
                 0x00,
                 0x11,
                 0x00,
                 0x01,
                 prelogin::Terminator,
                 0x10,
                 0x00,
                 0x10,
                 0x00,
                 0x00,
                 0x00,  // VERSION 16.0, build 0x1000, sub-build 0
                 encryption};
}

Bytes deobfuscatePassword(const std::uint8_t* data, std::size_t size) {
    Bytes out(data, data + size);
    for (auto& b : out) {
        b ^= 0xA5;
        b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
    }
    return out;
}

bool parseLogin7(const Bytes& p, Login7Request& out, std::string& error) {
    out = Login7Request();
    constexpr std::size_t kFixed = 86;  // through ibAtchDBFile/cchAtchDBFile (TDS 7.0)
    if (p.size() < kFixed) {
        error = "LOGIN7 record truncated";
        return false;
    }
    const std::size_t declared = le32(&p[0]);
    if (declared < kFixed || declared > p.size()) {
        error = "LOGIN7 length field is inconsistent";
        return false;
    }
    const std::size_t bound = declared;
    out.tdsVersion = le32(&p[4]);
    out.packetSize = le32(&p[8]);
    out.clientPid = le32(&p[16]);
    out.integratedSecurity = (p[25] & 0x80) != 0;

    auto field = [&](std::size_t at, const char* what, std::string& dst, bool password) {
        const std::size_t ib = le16(&p[at]);
        const std::size_t cch = le16(&p[at + 2]);
        if (cch == 0) return true;
        if (ib > bound || cch * 2 > bound - ib) {
            error = std::string("LOGIN7 ") + what + " points outside the record";
            return false;
        }
        if (password) {
            Bytes plain = deobfuscatePassword(&p[ib], cch * 2);
            dst = utf16leToUtf8(plain.data(), plain.size());
        } else {
            dst = utf16leToUtf8(&p[ib], cch * 2);
        }
        return true;
    };
    if (!field(36, "host name", out.hostName, false) || !field(40, "user name", out.userName, false) ||
        !field(44, "password", out.password, true) || !field(48, "application name", out.appName, false) ||
        !field(52, "server name", out.serverName, false) || !field(60, "library name", out.libraryName, false) ||
        !field(64, "language", out.language, false) || !field(68, "database", out.database, false))
        return false;
    const std::size_t ibSspi = le16(&p[78]);
    const std::size_t cbSspi = le16(&p[80]);
    if (cbSspi > 0) {
        if (ibSspi > bound || cbSspi > bound - ibSspi) {
            error = "LOGIN7 SSPI data points outside the record";
            return false;
        }
        out.integratedSecurity = true;
    }
    return true;
}

namespace {
// Skips ALL_HEADERS, checking each header lies inside it.
bool skipAllHeaders(const Bytes& p, bool allHeaders, std::size_t& pos, std::string& error) {
    pos = 0;
    if (!allHeaders) return true;
    if (p.size() < 4) {
        error = "request too short for its headers";
        return false;
    }
    const std::size_t total = le32(&p[0]);
    if (total < 4 || total > p.size()) {
        error = "request headers have an invalid total length";
        return false;
    }
    std::size_t h = 4;
    while (h < total) {
        if (total - h < 6) {
            error = "request header truncated";
            return false;
        }
        const std::size_t len = le32(&p[h]);
        if (len < 6 || len > total - h) {
            error = "request header has an invalid length";
            return false;
        }
        h += len;
    }
    pos = total;
    return true;
}
}  // namespace

bool parseSqlBatch(const Bytes& p, bool allHeaders, std::string& text, std::string& error) {
    std::size_t pos;
    if (!skipAllHeaders(p, allHeaders, pos, error)) return false;
    const std::size_t n = p.size() - pos;
    if (n % 2 != 0) {
        error = "SQL batch text has an odd number of bytes";
        return false;
    }
    text = utf16leToUtf8(p.data() + pos, n);
    return true;
}

bool parseRpcName(const Bytes& p, bool allHeaders, std::string& name, std::string& error) {
    std::size_t pos;
    if (!skipAllHeaders(p, allHeaders, pos, error)) return false;
    if (p.size() - pos < 2) {
        error = "RPC request truncated";
        return false;
    }
    const std::size_t len = le16(&p[pos]);
    pos += 2;
    if (len == 0xFFFF) {
        if (p.size() - pos < 2) {
            error = "RPC procedure id truncated";
            return false;
        }
        static const char* const kNames[] = {"",
                                             "sp_cursor",
                                             "sp_cursoropen",
                                             "sp_cursorprepare",
                                             "sp_cursorexecute",
                                             "sp_cursorprepexec",
                                             "sp_cursorunprepare",
                                             "sp_cursorfetch",
                                             "sp_cursoroption",
                                             "sp_cursorclose",
                                             "sp_executesql",
                                             "sp_prepare",
                                             "sp_execute",
                                             "sp_prepexec",
                                             "sp_prepexecrpc",
                                             "sp_unprepare"};
        const std::size_t id = le16(&p[pos]);
        name = id > 0 && id < std::size(kNames) ? kNames[id] : "procedure id " + std::to_string(id);
        return true;
    }
    if (len * 2 > p.size() - pos) {
        error = "RPC procedure name truncated";
        return false;
    }
    name = utf16leToUtf8(&p[pos], len * 2);
    return true;
}

namespace {

// A read position in an RPC request that reports running past its end.
struct ParamCursor {
    const Bytes& p;
    std::size_t& pos;
    std::string& error;
    bool need(std::size_t n) {
        if (p.size() - pos < n) {
            error = "parameter truncated";
            return false;
        }
        return true;
    }
};

// Little-endian signed integer of `n` (1..8) bytes at `at`.
std::int64_t readSignedLe(const Bytes& p, std::size_t at, std::size_t n) {
    assert(n >= 1 && n <= 8 && at + n <= p.size());
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p[at + i]) << (8 * i);
    if (n < 8 && (v >> (8 * n - 1)) & 1) v |= ~std::uint64_t{0} << (8 * n);  // sign-extend
    return static_cast<std::int64_t>(v);
}

bool isUnicodeType(std::uint8_t t) {
    return t == dtype::NVarChar || t == dtype::NChar || t == dtype::NText;
}
bool isCollatedType(std::uint8_t t) {
    return isUnicodeType(t) || t == dtype::BigVarChar || t == dtype::BigChar || t == dtype::Text;
}

// Byte size of a fixed-length type, 0 for a type that is not one.
std::size_t fixedTypeSize(std::uint8_t t) {
    switch (t) {
    case dtype::Int1:
    case dtype::Bit: return 1;
    case dtype::Int2: return 2;
    case dtype::Int4:
    case dtype::DateTim4:
    case dtype::Flt4:
    case dtype::Money4: return 4;
    case dtype::Money:
    case dtype::DateTime:
    case dtype::Flt8:
    case dtype::Int8: return 8;
    default: return 0;
    }
}

// Fixed length, no length byte: INT1, BIT, INT2, INT4, DATETIME4, REAL, MONEY, DATETIME, FLOAT,
// MONEY4, INT8.
bool readFixedParam(ParamCursor& c, std::size_t n, RpcParam& out) {
    const std::uint8_t t = out.type;
    if (!c.need(n)) return false;
    if (t == dtype::Int1 || t == dtype::Int2 || t == dtype::Int4 || t == dtype::Int8) {
        out.isInt = true;
        out.intValue = readSignedLe(c.p, c.pos, n);
        if (t == dtype::Int1) out.intValue &= 0xFF;  // INT1 is unsigned
    }
    c.pos += n;
    return true;
}

// How many TYPE_INFO bytes a one-byte-length type has before its value's length.
std::size_t byteLenInfoSize(std::uint8_t t) {
    switch (t) {
    case dtype::Decimal:
    case dtype::Numeric:
    case dtype::DecimalN:
    case dtype::NumericN: return 3;  // maximum length, precision, scale
    case dtype::Date: return 0;
    default: return 1;  // maximum length (or, for TIME and the DATETIME2s, the scale)
    }
}

// One-byte lengths: GUID, INTN, DECIMAL(N), NUMERIC(N), BITN, FLTN, MONEYN, DATETIMN, DATE,
// TIME, DATETIME2, DATETIMEOFFSET.
bool readByteLenParam(ParamCursor& c, RpcParam& out) {
    const std::size_t info = byteLenInfoSize(out.type);
    if (!c.need(info + 1)) return false;
    c.pos += info;
    const std::size_t n = c.p[c.pos++];
    if (!c.need(n)) return false;
    if (n == 0) {
        out.isNull = true;
    } else if (out.type == dtype::IntN) {
        if (n != 1 && n != 2 && n != 4 && n != 8) {
            c.error = "integer parameter has length " + std::to_string(n);
            return false;
        }
        out.isInt = true;
        out.intValue = readSignedLe(c.p, c.pos, n);
        if (n == 1) out.intValue &= 0xFF;
    }
    c.pos += n;
    return true;
}

// The chunks of a partially length-prefixed (PLP) value, after its total length.
bool readPlpChunks(ParamCursor& c, Bytes& value) {
    while (true) {
        if (!c.need(4)) return false;
        const std::size_t chunk = le32(&c.p[c.pos]);
        c.pos += 4;
        if (chunk == 0) return true;
        if (!c.need(chunk)) return false;
        value.insert(value.end(), c.p.begin() + static_cast<std::ptrdiff_t>(c.pos),
                     c.p.begin() + static_cast<std::ptrdiff_t>(c.pos + chunk));
        c.pos += chunk;
    }
}

// A text parameter's bytes become its UTF-8 text when the type is a Unicode one.
bool takeUnicodeText(ParamCursor& c, const std::uint8_t* data, std::size_t size, RpcParam& out) {
    if (!isUnicodeType(out.type)) return true;
    if (size % 2 != 0) {
        c.error = "Unicode parameter has an odd number of bytes";
        return false;
    }
    out.isUnicodeText = true;
    out.text = utf16leToUtf8(data, size);
    return true;
}

// Two-byte lengths: VARBINARY, VARCHAR, BINARY, CHAR, NVARCHAR, NCHAR; 0xFFFF as the maximum
// length means the value comes in chunks (PLP).
bool readUShortLenParam(ParamCursor& c, RpcParam& out) {
    const std::size_t collation = isCollatedType(out.type) ? 5 : 0;
    if (!c.need(2 + collation)) return false;
    const std::size_t maxLen = le16(&c.p[c.pos]);
    c.pos += 2 + collation;
    Bytes value;
    if (maxLen == 0xFFFF) {
        if (!c.need(8)) return false;
        const std::uint64_t total = le32(&c.p[c.pos]) | (std::uint64_t{le32(&c.p[c.pos + 4])} << 32);
        c.pos += 8;
        if (total == ~std::uint64_t{0}) {
            out.isNull = true;
            return true;
        }
        if (!readPlpChunks(c, value)) return false;
    } else {
        if (!c.need(2)) return false;
        const std::size_t n = le16(&c.p[c.pos]);
        c.pos += 2;
        if (n == 0xFFFF) {
            out.isNull = true;
            return true;
        }
        if (!c.need(n)) return false;
        value.assign(c.p.begin() + static_cast<std::ptrdiff_t>(c.pos),
                     c.p.begin() + static_cast<std::ptrdiff_t>(c.pos + n));
        c.pos += n;
    }
    return takeUnicodeText(c, value.data(), value.size(), out);
}

// Four-byte lengths: IMAGE, TEXT, NTEXT (in a request the value is length + bytes).
bool readLongLenParam(ParamCursor& c, RpcParam& out) {
    const std::size_t collation = isCollatedType(out.type) ? 5 : 0;
    if (!c.need(4 + collation + 4)) return false;
    c.pos += 4 + collation;
    const std::uint32_t n = le32(&c.p[c.pos]);
    c.pos += 4;
    if (n == 0xFFFFFFFFu) {
        out.isNull = true;
        return true;
    }
    if (!c.need(n)) return false;
    if (!takeUnicodeText(c, c.p.data() + c.pos, n, out)) return false;
    c.pos += n;
    return true;
}

// Reads one RPC parameter at `pos`; false (with the reason) when it cannot be read.
bool readRpcParam(const Bytes& p, std::size_t& pos, RpcParam& out, std::string& error) {
    ParamCursor c{p, pos, error};
    out = RpcParam();
    if (!c.need(1)) return false;
    const std::size_t nameChars = p[pos++];
    if (!c.need(nameChars * 2 + 2)) return false;
    out.name = utf16leToUtf8(&p[pos], nameChars * 2);
    pos += nameChars * 2;
    out.status = p[pos++];
    out.type = p[pos++];
    const std::uint8_t t = out.type;
    switch (t) {
    case dtype::Null: out.isNull = true; return true;
    case dtype::Guid:
    case dtype::IntN:
    case dtype::Decimal:
    case dtype::Numeric:
    case dtype::BitN:
    case dtype::DecimalN:
    case dtype::NumericN:
    case dtype::FltN:
    case dtype::MoneyN:
    case dtype::DateTimeN:
    case dtype::Date:
    case dtype::Time:
    case dtype::DateTime2:
    case dtype::DateTimeOffset: return readByteLenParam(c, out);
    case dtype::BigVarBinary:
    case dtype::BigVarChar:
    case dtype::BigBinary:
    case dtype::BigChar:
    case dtype::NVarChar:
    case dtype::NChar: return readUShortLenParam(c, out);
    case dtype::Image:
    case dtype::Text:
    case dtype::NText: return readLongLenParam(c, out);
    default: break;
    }
    if (const std::size_t n = fixedTypeSize(t); n != 0) return readFixedParam(c, n, out);
    char buf[48];
    std::snprintf(buf, sizeof buf, "parameter of type 0x%02x", t);
    error = buf;
    return false;
}

bool isBlank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

}  // namespace

bool parseRpcRequest(const Bytes& p, bool allHeaders, RpcRequest& out, std::string& error) {
    out = RpcRequest();
    if (!parseRpcName(p, allHeaders, out.procedure, error)) return false;
    std::size_t pos;
    skipAllHeaders(p, allHeaders, pos, error);  // checked by parseRpcName
    const std::size_t len = le16(&p[pos]);
    pos += 2;
    if (len == 0xFFFF) {
        out.procId = le16(&p[pos]);
        pos += 2;
    } else {
        pos += len * 2;
    }
    if (p.size() - pos < 2) {
        error = "RPC option flags truncated";
        return false;
    }
    out.optionFlags = le16(&p[pos]);
    pos += 2;
    while (pos < p.size()) {
        // 0xFF (7.2+) or 0x80 separates calls batched in one request.
        if (p[pos] == 0xFF || p[pos] == 0x80) {
            out.unreadRest = "another call in the same request";
            return true;
        }
        RpcParam param;
        std::string why;
        if (!readRpcParam(p, pos, param, why)) {
            out.unreadRest = why;
            return true;
        }
        out.params.push_back(std::move(param));
    }
    return true;
}

RpcAction planRpc(const RpcRequest& r) {
    RpcAction a;
    a.logText = r.procedure;
    auto refuse = [&](std::int32_t number, const std::string& text) {
        a.kind = RpcAction::Kind::Refuse;
        a.errorNumber = number;
        a.errorText = text;
        return a;
    };
    std::uint16_t id = r.procId;
    if (id == 0) {  // called by name
        if (r.procedure == "sp_prepexec")
            id = procid::PrepExec;
        else if (r.procedure == "sp_executesql")
            id = procid::ExecuteSql;
        else if (r.procedure == "sp_unprepare")
            id = procid::Unprepare;
    }
    const bool prepExec = id == procid::PrepExec;
    const bool executeSql = id == procid::ExecuteSql;
    if (prepExec || executeSql) {
        // sp_prepexec(@handle OUTPUT, @params, @stmt); sp_executesql(@stmt [, @params]).
        const std::size_t stmtAt = prepExec ? 2 : 0;
        constexpr std::size_t paramsAt = 1;
        if (r.params.size() <= stmtAt) {
            if (!r.unreadRest.empty())
                return refuse(sqlerr::MalformedRequest, "Malformed RPC request: " + r.unreadRest + ".");
            return refuse(sqlerr::MalformedRequest,
                          r.procedure + " expects the statement as parameter " + std::to_string(stmtAt + 1) + ".");
        }
        if (prepExec && !r.params[0].isInt && !r.params[0].isNull)
            return refuse(sqlerr::MalformedRequest, "sp_prepexec expects an int handle as parameter 1.");
        const RpcParam& stmt = r.params[stmtAt];
        if (!stmt.isUnicodeText || stmt.isNull)
            return refuse(sqlerr::MalformedRequest, r.procedure +
                                                        " expects the statement as an ntext, nchar or "
                                                        "nvarchar parameter.");
        a.logText = r.procedure + ": " + stmt.text;
        // Any parameter definition or bound value means a parameterised statement.
        const std::size_t allowed = prepExec ? 3 : 2;
        bool parameterised = r.params.size() > allowed || !r.unreadRest.empty();
        if (r.params.size() > paramsAt) {
            const RpcParam& defs = r.params[paramsAt];
            if (!defs.isNull && !(defs.isUnicodeText && isBlank(defs.text))) parameterised = true;
        }
        if (parameterised)
            return refuse(sqlerr::UnsupportedRequest, "parameters in prepared statements are not supported");
        a.kind = RpcAction::Kind::Run;
        a.statement = stmt.text;
        if (prepExec) {
            a.returnsHandle = true;
            a.handleName = r.params[0].name;
        }
        return a;
    }
    if (id == procid::Unprepare) {
        if (r.params.size() != 1 || !r.unreadRest.empty() || !r.params[0].isInt)
            return refuse(sqlerr::MalformedRequest, "sp_unprepare expects one int handle.");
        const std::int64_t h = r.params[0].intValue;
        a.logText = r.procedure + ": " + std::to_string(h);
        if (h < std::numeric_limits<std::int32_t>::min() || h > std::numeric_limits<std::int32_t>::max())
            return refuse(sqlerr::UnknownHandle,
                          "Could not find prepared statement with handle " + std::to_string(h) + ".");
        a.kind = RpcAction::Kind::Unprepare;
        a.handle = static_cast<std::int32_t>(h);
        return a;
    }
    return refuse(sqlerr::UnsupportedRequest, "RPC requests are not supported by this server");
}

RpcAction planRpc(const Bytes& payload, bool allHeaders) {
    RpcRequest request;
    std::string error;
    if (parseRpcRequest(payload, allHeaders, request, error)) return planRpc(request);
    RpcAction a;
    a.errorNumber = sqlerr::UnsupportedRequest;
    a.errorText = "RPC requests are not supported by this server";
    std::string name, ignored;
    if (parseRpcName(payload, allHeaders, name, ignored)) {
        a.logText = name;
        if (name == "sp_prepexec" || name == "sp_unprepare" || name == "sp_executesql") {
            a.errorNumber = sqlerr::MalformedRequest;
            a.errorText = "Malformed RPC request: " + error + ".";
        }
    }
    return a;
}

std::uint32_t negotiatedVersion(std::uint32_t clientVersion) {
    switch (clientVersion >> 24) {
    case 0x70: return 0x70000000;
    case 0x71: return 0x71000001;
    case 0x72: return 0x72090002;
    case 0x73: return 0x730B0003;
    default: return 0x74000004;
    }
}

std::uint32_t negotiatedPacketSize(std::uint32_t asked) {
    if (asked == 0) return kDefaultPacketSize;
    if (asked < 512) return 512;
    if (asked > 32767) return 32767;
    return asked;
}

// ---------------------------------------------------------------------------------------------
// Values

namespace {

bool isLeapYear(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// "YYYY-MM-DD" at the start of `s`, a real calendar day.
bool parseDatePart(const std::string& s, unsigned& y, unsigned& mo, unsigned& d) {
    if (!digitsAt(s, 0, 4, y) || s.size() < 10 || s[4] != '-' || !digitsAt(s, 5, 2, mo) || s[7] != '-' ||
        !digitsAt(s, 8, 2, d))
        return false;
    static const unsigned kMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return mo >= 1 && mo <= 12 && d >= 1 && d <= kMonth[mo - 1] + ((mo == 2 && isLeapYear(y)) ? 1u : 0u);
}

// ".fff..." from `pos` to the end of `s`: at least one digit, kept to 100 ns.
bool parseFraction(const std::string& s, std::size_t pos, std::uint64_t& frac7) {
    if (s[pos] != '.') return false;
    ++pos;
    std::size_t nd = 0;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c < '0' || c > '9') return false;
        if (nd < 7) frac7 = frac7 * 10 + static_cast<unsigned>(c - '0');
        ++nd;
    }
    if (nd == 0) return false;
    for (std::size_t k = nd; k < 7; ++k) frac7 *= 10;
    return true;
}

struct TimeOfDay {
    unsigned hh = 0, mi = 0, ss = 0;
    std::uint64_t frac7 = 0;  // fraction of a second in 100 ns
};

// "( |T)HH:MM[:SS[.fff]]" from `pos` to the end of `s` (nothing at all is midnight).
bool parseTimePart(const std::string& s, std::size_t pos, TimeOfDay& t) {
    if (pos >= s.size()) return true;
    if ((s[pos] != ' ' && s[pos] != 'T') || !digitsAt(s, pos + 1, 2, t.hh) || pos + 3 >= s.size() ||
        s[pos + 3] != ':' || !digitsAt(s, pos + 4, 2, t.mi))
        return false;
    pos += 6;
    if (pos < s.size()) {
        if (s[pos] != ':' || !digitsAt(s, pos + 1, 2, t.ss)) return false;
        pos += 3;
        if (pos < s.size() && !parseFraction(s, pos, t.frac7)) return false;
    }
    return t.hh <= 23 && t.mi <= 59 && t.ss <= 59;
}

}  // namespace

bool parseDateTime(const std::string& raw, std::int32_t& days, std::uint32_t& ticks) {
    const std::string s = trim(raw);
    unsigned y, mo, d;
    if (!parseDatePart(s, y, mo, d)) return false;
    TimeOfDay tod;
    if (!parseTimePart(s, 10, tod)) return false;
    std::int64_t dayCount = daysFromCivil(y, mo, d) - kDay1900;
    std::uint64_t t = (tod.hh * 3600u + tod.mi * 60u + tod.ss) * 300ull + (tod.frac7 * 300 + 5000000) / 10000000;
    if (t >= kTicksPerDay) {
        t -= kTicksPerDay;
        ++dayCount;
    }
    if (dayCount < kMinDays || dayCount > kMaxDays) return false;
    days = static_cast<std::int32_t>(dayCount);
    ticks = static_cast<std::uint32_t>(t);
    return true;
}

namespace {

// The bytes a DECIMALN value of this precision takes after its length byte (sign included).
std::uint8_t decimalBytes(int precision) {
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// Windows-1251's upper half, 0x80..0xBF (0xC0..0xFF are U+0410..U+044F in order; 0x98 is unused).
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFF, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

char cp1251Byte(char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    if (c >= 0x0410 && c <= 0x044F) return static_cast<char>(0xC0 + (c - 0x0410));
    for (std::size_t i = 0; i < 64; ++i)
        if (kCp1251High[i] == c) return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

std::string toCp1251Lossy(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    const std::u16string u = utf8ToUtf16(utf8);
    for (std::size_t i = 0; i < u.size(); ++i) {
        const char16_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size()) ++i;  // a pair: outside the code page
        out += (c >= 0xD800 && c <= 0xDFFF) ? '?' : cp1251Byte(c);
    }
    return out;
}

std::uint16_t columnFlags(const Column& c) {
    std::uint16_t flags = kColumnFlagUpdatableUnknown;
    if (c.nullable) flags |= kColumnFlagNullable;
    if (c.identity) flags |= kColumnFlagIdentity;
    return flags;
}

Column columnForClient(const Column& c, std::uint32_t tdsVersion) {
    if (c.type != ColType::Date || (tdsVersion >> 24) >= 0x73) return c;
    Column text = c;  // what the server sends a down-level client for a date
    text.type = ColType::NVarChar;
    text.maxChars = 10;
    return text;
}

void appendTypeInfo(Bytes& out, const Column& c, const std::uint8_t collation[5]) {
    switch (c.type) {
    case ColType::TinyInt:
        put8(out, dtype::IntN);
        put8(out, 1);
        break;
    case ColType::SmallInt:
        put8(out, dtype::IntN);
        put8(out, 2);
        break;
    case ColType::Int:
        put8(out, dtype::IntN);
        put8(out, 4);
        break;
    case ColType::BigInt:
        put8(out, dtype::IntN);
        put8(out, 8);
        break;
    case ColType::Bit:
        put8(out, dtype::BitN);
        put8(out, 1);
        break;
    case ColType::Float:
        put8(out, dtype::FltN);
        put8(out, 8);
        break;
    case ColType::Decimal: {
        const int precision = std::clamp(c.precision, 1, 38);
        put8(out, dtype::DecimalN);
        put8(out, decimalBytes(precision));
        put8(out, static_cast<std::uint8_t>(precision));
        put8(out, static_cast<std::uint8_t>(std::clamp(c.scale, 0, precision)));
        break;
    }
    case ColType::DateTime:
        put8(out, dtype::DateTimeN);
        put8(out, 8);
        break;
    case ColType::Date: put8(out, dtype::Date); break;
    case ColType::NVarChar: {
        const int chars = std::clamp(c.maxChars, 1, 4000);
        put8(out, dtype::NVarChar);
        put16(out, static_cast<std::uint16_t>(chars * 2));
        out.insert(out.end(), collation, collation + 5);
        break;
    }
    case ColType::VarChar:
        put8(out, dtype::BigVarChar);
        put16(out, static_cast<std::uint16_t>(std::clamp(c.maxChars, 1, 8000)));
        out.insert(out.end(), collation, collation + 5);
        break;
    }
}

namespace {

// The one-byte length of a NULL in the nullable (…N) types.
void putNullByteLen(Bytes& out) {
    put8(out, 0);
}

// The bytes of an INTN column and the range its values must fall in.
int intBytes(ColType t) {
    return t == ColType::TinyInt ? 1 : t == ColType::SmallInt ? 2 : t == ColType::Int ? 4 : 8;
}

void appendIntValue(Bytes& out, const Column& c, const Value& v) {
    std::int64_t i;
    const int bytes = intBytes(c.type);
    const std::int64_t lo = bytes == 1   ? 0
                            : bytes == 2 ? std::numeric_limits<std::int16_t>::min()
                            : bytes == 4 ? std::numeric_limits<std::int32_t>::min()
                                         : std::numeric_limits<std::int64_t>::min();
    const std::int64_t hi = bytes == 1   ? 255
                            : bytes == 2 ? std::numeric_limits<std::int16_t>::max()
                            : bytes == 4 ? std::numeric_limits<std::int32_t>::max()
                                         : std::numeric_limits<std::int64_t>::max();
    if (std::holds_alternative<std::monostate>(v) || !toInt64(v, i) || i < lo || i > hi) {
        putNullByteLen(out);
        return;
    }
    put8(out, static_cast<std::uint8_t>(bytes));
    const auto u = static_cast<std::uint64_t>(i);
    for (int k = 0; k < bytes; ++k) put8(out, static_cast<std::uint8_t>(u >> (8 * k)));
}

// A number as DECIMALN: the sign byte, then the value times 10^scale as a little-endian whole
// number. NULL when it does not fit the precision.
void appendDecimalValue(Bytes& out, const Column& c, const Value& v) {
    const int precision = std::clamp(c.precision, 1, 38), scale = std::clamp(c.scale, 0, precision);
    char buf[128];
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*i));
        if (scale > 0) std::snprintf(buf + std::strlen(buf), sizeof buf - std::strlen(buf), ".%0*d", scale, 0);
    } else if (const auto* d = std::get_if<double>(&v); d && std::isfinite(*d) && std::fabs(*d) < 1e38) {
        std::snprintf(buf, sizeof buf, "%.*f", scale, *d);
    } else {
        putNullByteLen(out);
        return;
    }
    unsigned __int128 magnitude = 0;
    int digitCount = 0;
    bool negative = false;
    for (const char* p = buf; *p; ++p) {
        if (*p == '-') negative = true;
        if (*p < '0' || *p > '9') continue;
        magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
        if (magnitude != 0) ++digitCount;
    }
    if (digitCount > precision) {
        putNullByteLen(out);
        return;
    }
    const std::uint8_t bytes = decimalBytes(precision);
    put8(out, bytes);
    put8(out, negative && magnitude != 0 ? 0 : 1);
    for (int k = 0; k < bytes - 1; ++k) put8(out, static_cast<std::uint8_t>(magnitude >> (8 * k)));
}

// DATEN: three bytes of days since 0001-01-01.
void appendDateValue(Bytes& out, const Value& v) {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    const auto* s = std::get_if<std::string>(&v);
    if (!s || !parseDateTime(*s, days, ticks)) {
        putNullByteLen(out);
        return;
    }
    constexpr std::int32_t kDaysFrom0001To1900 = 693595;
    const auto d = static_cast<std::uint32_t>(days + kDaysFrom0001To1900);
    put8(out, 3);
    for (int k = 0; k < 3; ++k) put8(out, static_cast<std::uint8_t>(d >> (8 * k)));
}

// A bit from a text: "true"/"false" in any case, else a whole number.
bool textToBit(const std::string& text, std::int64_t& i) {
    std::string t = trim(text);
    for (auto& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (t == "true") {
        i = 1;
        return true;
    }
    if (t == "false") {
        i = 0;
        return true;
    }
    return parseInt64(t, i);
}

void appendBitValue(Bytes& out, const Value& v) {
    std::int64_t i = 0;
    bool ok = false;
    if (auto d = std::get_if<double>(&v)) {
        ok = std::isfinite(*d);
        i = *d != 0.0;
    } else if (auto s = std::get_if<std::string>(&v)) {
        ok = textToBit(*s, i);
    } else if (!std::holds_alternative<std::monostate>(v)) {
        ok = toInt64(v, i);
    }
    if (!ok) {
        putNullByteLen(out);
        return;
    }
    put8(out, 1);
    put8(out, i != 0 ? 1 : 0);
}

void appendFloatValue(Bytes& out, const Value& v) {
    double d = 0;
    bool ok = false;
    if (auto i = std::get_if<std::int64_t>(&v))
        ok = true, d = static_cast<double>(*i);
    else if (auto f = std::get_if<double>(&v))
        ok = std::isfinite(*f), d = *f;
    else if (auto s = std::get_if<std::string>(&v))
        ok = parseDouble(*s, d);
    if (!ok) {
        putNullByteLen(out);
        return;
    }
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    put8(out, 8);
    put64(out, bits);
}

// A number converts as days since 1900-01-01, as on the server.
bool numberToDateTime(double n, std::int32_t& days, std::uint32_t& ticks) {
    if (!std::isfinite(n)) return false;
    double whole = std::floor(n);
    std::int64_t dd = static_cast<std::int64_t>(std::clamp(whole, -1e9, 1e9));
    std::uint64_t t = static_cast<std::uint64_t>(std::llround((n - whole) * kTicksPerDay));
    if (t >= kTicksPerDay) t -= kTicksPerDay, ++dd;
    if (dd < kMinDays || dd > kMaxDays) return false;
    days = static_cast<std::int32_t>(dd);
    ticks = static_cast<std::uint32_t>(t);
    return true;
}

void appendDateTimeValue(Bytes& out, const Value& v) {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    bool ok = false;
    if (auto s = std::get_if<std::string>(&v)) {
        ok = parseDateTime(*s, days, ticks);
    } else if (auto i = std::get_if<std::int64_t>(&v)) {
        ok = numberToDateTime(static_cast<double>(*i), days, ticks);
    } else if (auto f = std::get_if<double>(&v)) {
        ok = numberToDateTime(*f, days, ticks);
    }
    if (!ok) {
        putNullByteLen(out);
        return;
    }
    put8(out, 8);
    put32(out, static_cast<std::uint32_t>(days));
    put32(out, ticks);
}

std::string valueText(const Value& v) {
    if (auto i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto d = std::get_if<double>(&v)) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, *d);
        return std::string(buf, r.ptr);
    }
    return std::get<std::string>(v);
}

// Single-byte text: the value in Windows-1251, cut to the column's length.
void appendVarCharValue(Bytes& out, const Column& c, const Value& v) {
    if (std::holds_alternative<std::monostate>(v)) {
        put16(out, 0xFFFF);
        return;
    }
    std::string bytes = toCp1251Lossy(valueText(v));
    bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(std::clamp(c.maxChars, 1, 8000))));
    put16(out, static_cast<std::uint16_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void appendTextValue(Bytes& out, const Column& c, const Value& v) {
    std::string text;
    if (std::holds_alternative<std::monostate>(v)) {
        put16(out, 0xFFFF);  // NULL in a two-byte-length type
        return;
    }
    if (auto i = std::get_if<std::int64_t>(&v)) {
        text = std::to_string(*i);
    } else if (auto d = std::get_if<double>(&v)) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, *d);
        text.assign(buf, r.ptr);
    } else {
        text = std::get<std::string>(v);
    }
    const std::size_t maxUnits = static_cast<std::size_t>(std::clamp(c.maxChars, 1, 4000));
    std::u16string u = truncateUtf16(utf8ToUtf16(text), maxUnits);
    put16(out, static_cast<std::uint16_t>(u.size() * 2));
    appendUtf16le(out, u);
}

}  // namespace

void appendValue(Bytes& out, const Column& c, const Value& v) {
    switch (c.type) {
    case ColType::TinyInt:
    case ColType::SmallInt:
    case ColType::Int:
    case ColType::BigInt: appendIntValue(out, c, v); return;
    case ColType::Decimal: appendDecimalValue(out, c, v); return;
    case ColType::Date: appendDateValue(out, v); return;
    case ColType::VarChar: appendVarCharValue(out, c, v); return;
    case ColType::Bit: appendBitValue(out, v); return;
    case ColType::Float: appendFloatValue(out, v); return;
    case ColType::DateTime: appendDateTimeValue(out, v); return;
    case ColType::NVarChar: appendTextValue(out, c, v); return;
    }
}

// ---------------------------------------------------------------------------------------------
// Tokens

ReplyBuilder::ReplyBuilder(std::uint32_t tdsVersion, ServerIdentity identity)
    : version_(tdsVersion), identity_(std::move(identity)) {}

bool ReplyBuilder::wide() const {
    return (version_ >> 24) >= 0x72;
}

void ReplyBuilder::begin() {
    // Tokens are only ever appended: each starts at or after the one before.
    assert(starts_.empty() || starts_.back() <= out_.size());
    starts_.push_back(out_.size());
}

void ReplyBuilder::envChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue) {
    begin();
    put8(out_, token::EnvChange);
    const std::size_t lenAt = out_.size();
    put16(out_, 0);
    put8(out_, type);
    putBVarchar(out_, newValue);
    putBVarchar(out_, oldValue);
    set16(out_, lenAt, static_cast<std::uint16_t>(out_.size() - lenAt - 2));
}

void ReplyBuilder::envCollation(const Collation& collation) {
    begin();
    put8(out_, token::EnvChange);
    put16(out_, 8);
    put8(out_, envchange::SqlCollation);
    put8(out_, 5);
    out_.insert(out_.end(), collation.bytes, collation.bytes + 5);
    put8(out_, 0);
}

void ReplyBuilder::envBeginTran(std::uint64_t descriptor) {
    begin();
    put8(out_, token::EnvChange);
    put16(out_, 11);
    put8(out_, envchange::BeginTran);
    put8(out_, 8);
    put64(out_, descriptor);
    put8(out_, 0);
}

void ReplyBuilder::envEndTran(std::uint8_t type, std::uint64_t descriptor) {
    begin();
    put8(out_, token::EnvChange);
    put16(out_, 11);
    put8(out_, type);
    put8(out_, 0);
    put8(out_, 8);
    put64(out_, descriptor);
}

void ReplyBuilder::loginAck() {
    begin();
    std::u16string name = truncateUtf16(utf8ToUtf16(identity_.name), 255);
    put8(out_, token::LoginAck);
    put16(out_, static_cast<std::uint16_t>(1 + 4 + 1 + name.size() * 2 + 4));
    put8(out_, 0x01);  // interface: T-SQL
    for (int shift = 24; shift >= 0; shift -= 8) put8(out_, static_cast<std::uint8_t>(version_ >> shift));
    put8(out_, static_cast<std::uint8_t>(name.size()));
    appendUtf16le(out_, name);
    out_.insert(out_.end(), identity_.programVersion, identity_.programVersion + 4);
}

void ReplyBuilder::message(const Message& m, bool isError) {
    begin();
    // The token length is 16 bits: keep the text well inside it.
    std::u16string text = truncateUtf16(utf8ToUtf16(m.text), 16000);
    put8(out_, isError ? token::Error : token::Info);
    const std::size_t lenAt = out_.size();
    put16(out_, 0);
    put32(out_, static_cast<std::uint32_t>(m.number));
    put8(out_, m.state);
    put8(out_, m.severity);
    putUsVarchar(out_, text);
    putBVarchar(out_, identity_.name);
    putBVarchar(out_, m.procedure);
    if (wide())
        put32(out_, static_cast<std::uint32_t>(m.line));
    else
        put16(out_, static_cast<std::uint16_t>(m.line));
    set16(out_, lenAt, static_cast<std::uint16_t>(out_.size() - lenAt - 2));
}

void ReplyBuilder::colMetadata(const std::vector<Column>& columns) {
    begin();
    put8(out_, token::ColMetadata);
    put16(out_, static_cast<std::uint16_t>(std::min<std::size_t>(columns.size(), 0xFFFE)));
    for (std::size_t i = 0; i < columns.size() && i < 0xFFFE; ++i) {
        if (wide())
            put32(out_, 0);
        else
            put16(out_, 0);
        const Column c = columnForClient(columns[i], version_);
        put16(out_, columnFlags(c));
        appendTypeInfo(out_, c, identity_.collation.bytes);
        putBVarchar(out_, columns[i].name);
    }
}

void ReplyBuilder::row(const std::vector<Column>& columns, const std::vector<Value>& values) {
    begin();
    put8(out_, token::Row);
    static const Value kNull;
    for (std::size_t i = 0; i < columns.size() && i < 0xFFFE; ++i)
        appendValue(out_, columnForClient(columns[i], version_), i < values.size() ? values[i] : kNull);
}

void ReplyBuilder::done(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t count) {
    assert(token == token::Done || token == token::DoneProc || token == token::DoneInProc);
    // The "more" bit is finish()'s to set.
    assert((status & done::More) == 0);
    begin();
    put8(out_, token);
    doneStatus_.push_back(out_.size());
    put16(out_, status);
    put16(out_, curCmd);
    if (wide())
        put64(out_, count);
    else
        put32(out_, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFFFFFFu)));
}

void ReplyBuilder::returnInt(std::uint16_t ordinal, const std::string& name, std::int32_t value) {
    begin();
    put8(out_, token::ReturnValue);
    put16(out_, ordinal);
    putBVarchar(out_, name);
    put8(out_, kParamOutput);
    if (wide())
        put32(out_, 0);
    else
        put16(out_, 0);
    put16(out_, kColumnFlagsNullable);
    put8(out_, dtype::IntN);
    put8(out_, 4);
    put8(out_, 4);
    put32(out_, static_cast<std::uint32_t>(value));
}

void ReplyBuilder::returnStatus(std::int32_t value) {
    begin();
    put8(out_, token::ReturnStatus);
    put32(out_, static_cast<std::uint32_t>(value));
}

Bytes ReplyBuilder::finish() {
    for (std::size_t i = 0; i < doneStatus_.size(); ++i) {
        const std::size_t at = doneStatus_[i];
        assert(at + 2 <= out_.size());
        std::uint16_t st = le16(&out_[at]);
        if (i + 1 < doneStatus_.size())
            st |= done::More;
        else
            st &= static_cast<std::uint16_t>(~done::More);
        set16(out_, at, st);
    }
    return std::move(out_);
}

namespace {

constexpr std::uint16_t kCmdSelect = 0xC1;

// The ENVCHANGE a statement's transaction change sends, keeping the session's descriptor.
void writeTranChange(ReplyBuilder& reply, StatementOutcome::Tran tran, std::uint64_t& tranDescriptor,
                     std::uint64_t& nextDescriptor) {
    switch (tran) {
    case StatementOutcome::Tran::Begin:
        tranDescriptor = nextDescriptor++;
        reply.envBeginTran(tranDescriptor);
        break;
    case StatementOutcome::Tran::Commit:
    case StatementOutcome::Tran::Rollback:
        reply.envEndTran(tran == StatementOutcome::Tran::Commit ? envchange::CommitTran : envchange::RollbackTran,
                         tranDescriptor);
        tranDescriptor = 0;
        break;
    case StatementOutcome::Tran::None: break;
    }
}

// One statement's result sets; true when the last one's DONE also closed the statement.
bool writeResults(ReplyBuilder& reply, const StatementOutcome& st, std::uint8_t stmtDone) {
    const std::uint16_t errorBit = st.failed ? done::Error : 0;
    std::size_t lastResult = st.results.size();
    for (std::size_t i = 0; i < st.results.size(); ++i)
        if (!st.results[i].columns.empty()) lastResult = i;
    bool closed = false;
    for (std::size_t i = 0; i < st.results.size(); ++i) {
        const ResultSet& rs = st.results[i];
        if (rs.columns.empty()) continue;  // nothing a client could read
        reply.colMetadata(rs.columns);
        for (const auto& r : rs.rows) reply.row(rs.columns, r);
        if (st.isProcedure) {
            reply.done(kDoneInProc, done::Count, kCmdSelect, rs.rows.size());
        } else if (i == lastResult && !st.hasRowCount) {
            // A plain SELECT: its result's DONE is the statement's DONE.
            reply.done(stmtDone, done::Count | errorBit, kCmdSelect, rs.rows.size());
            closed = true;
        } else {
            reply.done(stmtDone, done::Count, kCmdSelect, rs.rows.size());
        }
    }
    return closed;
}

}  // namespace

void writeBatchOutcome(ReplyBuilder& reply, const BatchOutcome& outcome, std::uint64_t& tranDescriptor,
                       std::uint64_t& nextDescriptor, bool insideRpc) {
    const std::uint8_t stmtDone = insideRpc ? kDoneInProc : kDone;
    const std::uint8_t procDone = insideRpc ? kDoneInProc : kDoneProc;
    for (const StatementOutcome& st : outcome.statements) {
        writeTranChange(reply, st.tran, tranDescriptor, nextDescriptor);
        for (const Message& m : st.messages) reply.message(m, m.severity > 10);
        if (writeResults(reply, st, stmtDone)) continue;
        const std::uint16_t errorBit = st.failed ? done::Error : 0;
        const std::uint16_t status = (st.hasRowCount ? done::Count : 0) | errorBit;
        reply.done(st.isProcedure ? procDone : stmtDone, status, 0,
                   st.hasRowCount ? static_cast<std::uint64_t>(std::max<std::int64_t>(st.rowCount, 0)) : 0);
    }
    if (outcome.statements.empty()) reply.done(stmtDone, 0, 0, 0);
}

Bytes buildErrorReply(std::uint32_t tdsVersion, const ServerIdentity& identity, std::int32_t number,
                      std::uint8_t severity, const std::string& text) {
    ReplyBuilder r(tdsVersion, identity);
    Message m;
    m.number = number;
    m.severity = severity;
    m.text = text;
    r.message(m, true);
    r.done(kDone, done::Error, 0, 0);
    return r.finish();
}

Bytes buildAttentionAck(std::uint32_t tdsVersion) {
    ReplyBuilder r(tdsVersion);
    r.done(kDone, done::Attention, 0, 0);
    return r.finish();
}

}  // namespace devserver::tds
