// Test-side client pieces for the TDS tests: request builders shaped like what our clients send,
// and a token-stream reader that checks every length as a client would.
#pragma once

#include "tds/codec.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tdstest {

using devserver::tds::Bytes;

inline Bytes utf16(const std::string& utf8) {
    Bytes out;
    devserver::tds::appendUtf16le(out, devserver::tds::utf8ToUtf16(utf8));
    return out;
}

inline void put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A LOGIN7 record laid out the way FreeTDS does: fixed part of 94 bytes, then the strings.
inline Bytes buildLogin7(const std::string& user, const std::string& password, const std::string& database,
                         std::uint32_t version = 0x74000004, std::uint32_t packetSize = 4096) {
    Bytes fixed;
    put32(fixed, 0);  // length, patched below
    put32(fixed, version);
    put32(fixed, packetSize);
    put32(fixed, 7);  // client program version
    put32(fixed, 4242);  // client pid
    put32(fixed, 0);  // connection id
    fixed.push_back(0xE0);
    fixed.push_back(0x03);
    fixed.push_back(0x00);
    fixed.push_back(0x00);
    put32(fixed, 0);  // time zone
    put32(fixed, 0x409);  // LCID
    Bytes pw = utf16(password);
    for (auto& b : pw) b = static_cast<std::uint8_t>(((b << 4) | (b >> 4)) ^ 0xA5);
    const std::vector<Bytes> strings = {
        utf16("testhost"), utf16(user), pw, utf16("tds tests"), utf16("127.0.0.1"), {}, utf16("TDS-Library"), {},
        utf16(database)};
    Bytes tail;
    std::uint16_t offset = 94;
    for (const Bytes& s : strings) {
        put16(fixed, static_cast<std::uint16_t>(offset + tail.size()));
        put16(fixed, static_cast<std::uint16_t>(s.size() / 2));
        tail.insert(tail.end(), s.begin(), s.end());
    }
    for (int i = 0; i < 6; ++i) fixed.push_back(0x11);  // client id (MAC)
    put16(fixed, 0), put16(fixed, 0);  // SSPI
    put16(fixed, 0), put16(fixed, 0);  // attach db file
    put16(fixed, 0), put16(fixed, 0);  // change password
    put32(fixed, 0);  // SSPI long
    if (fixed.size() != 94) throw std::logic_error("LOGIN7 fixed part has the wrong size");
    fixed.insert(fixed.end(), tail.begin(), tail.end());
    const auto total = static_cast<std::uint32_t>(fixed.size());
    std::memcpy(fixed.data(), &total, 4);
    return fixed;
}

// SQL batch payload: ALL_HEADERS with a transaction descriptor header (as 7.2+ clients send).
inline Bytes buildBatch(const std::string& text, bool allHeaders = true) {
    Bytes b;
    if (allHeaders) {
        put32(b, 22);
        put32(b, 18);
        put16(b, 2);
        for (int i = 0; i < 8; ++i) b.push_back(0);
        put32(b, 1);
    }
    Bytes t = utf16(text);
    b.insert(b.end(), t.begin(), t.end());
    return b;
}

// RPC payload calling a well-known procedure by id; `params` are whole parameter records.
inline Bytes buildRpc(std::uint16_t procId, const std::vector<Bytes>& params, bool allHeaders = true) {
    Bytes b = buildBatch("", allHeaders);
    put16(b, 0xFFFF);
    put16(b, procId);
    put16(b, 0);  // option flags
    for (const Bytes& p : params) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// Parameter records shaped like the driver's: unnamed unless a name is given.
inline Bytes paramHeader(std::uint8_t status, const std::string& name = "") {
    Bytes b;
    const Bytes n = utf16(name);
    b.push_back(static_cast<std::uint8_t>(n.size() / 2));
    b.insert(b.end(), n.begin(), n.end());
    b.push_back(status);
    return b;
}
inline Bytes intParam(std::optional<std::int32_t> v, std::uint8_t status = 0) {
    Bytes b = paramHeader(status);
    b.push_back(0x26);
    b.push_back(4);
    if (!v) {
        b.push_back(0);
    } else {
        b.push_back(4);
        put32(b, static_cast<std::uint32_t>(*v));
    }
    return b;
}
inline Bytes ntextParam(std::optional<std::string> v) {
    Bytes b = paramHeader(0);
    b.push_back(0x63);
    const Bytes t = v ? utf16(*v) : Bytes();
    put32(b, static_cast<std::uint32_t>(t.size()));
    for (std::uint8_t c : {0x19, 0x04, 0xd0, 0x00, 0x00}) b.push_back(c);
    if (!v) {
        put32(b, 0xFFFFFFFFu);
    } else {
        put32(b, static_cast<std::uint32_t>(t.size()));
        b.insert(b.end(), t.begin(), t.end());
    }
    return b;
}
// sp_prepexec as the ODBC driver sends it for a statement without parameters.
inline Bytes buildPrepExec(const std::string& statement) {
    return buildRpc(13, {intParam(std::nullopt, 0x01), ntextParam(std::nullopt), ntextParam(statement)});
}

inline Bytes buildPreLogin() {
    // VERSION, ENCRYPTION (not supported: a bare client sends its LOGIN7 in clear, which a
    // server that offers TLS accepts only from a client that said it cannot encrypt), INSTOPT,
    // THREADID, MARS.
    Bytes b = {0x00, 0x00, 0x1A, 0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21,
               0x00, 0x01, 0x03, 0x00, 0x22, 0x00, 0x04, 0x04, 0x00, 0x26, 0x00, 0x01, 0xFF,
               0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    return b;
}

struct Token {
    std::uint8_t type = 0;
    // DONE family
    std::uint16_t status = 0;
    std::uint64_t count = 0;
    // ERROR/INFO
    std::int32_t number = 0;
    std::uint8_t severity = 0;
    std::string text;  // message text, or new value of an ENVCHANGE
    std::uint8_t envType = 0;
    Bytes envNew, envOld;
    // ROW: raw cell bytes (nullopt for NULL)
    std::vector<std::optional<Bytes>> cells;
    std::vector<std::uint8_t> colTypes;
    std::vector<std::string> colNames;
};

// Reads a whole reply token stream; throws when a length runs past the end or a token is unknown.
inline std::vector<Token> readTokens(const Bytes& s, bool wide = true) {
    std::vector<Token> out;
    std::size_t pos = 0;
    std::vector<std::uint8_t> types;
    auto need = [&](std::size_t n) {
        if (s.size() - pos < n) throw std::runtime_error("token stream truncated");
    };
    auto u8 = [&]() {
        need(1);
        return s[pos++];
    };
    auto u16 = [&]() {
        need(2);
        std::uint16_t v = static_cast<std::uint16_t>(s[pos] | (s[pos + 1] << 8));
        pos += 2;
        return v;
    };
    auto u32 = [&]() {
        need(4);
        std::uint32_t v;
        std::memcpy(&v, &s[pos], 4);
        pos += 4;
        return v;
    };
    auto bytes = [&](std::size_t n) {
        need(n);
        Bytes b(s.begin() + static_cast<std::ptrdiff_t>(pos), s.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        return b;
    };
    auto text = [&](std::size_t chars) {
        Bytes b = bytes(chars * 2);
        return devserver::tds::utf16leToUtf8(b.data(), b.size());
    };
    while (pos < s.size()) {
        Token t;
        t.type = u8();
        switch (t.type) {
        case 0xE3: {
            const std::size_t len = u16();
            const std::size_t end = pos + len;
            t.envType = u8();
            const std::size_t n1 = u8();
            if (t.envType == 7 || t.envType == 8 || t.envType == 9 || t.envType == 10) {
                t.envNew = bytes(n1);
                t.envOld = bytes(u8());
            } else {
                t.text = text(n1);
                t.envOld = bytes(u8() * 2);
            }
            if (pos != end) throw std::runtime_error("ENVCHANGE length mismatch");
            break;
        }
        case 0xAD: {
            const std::size_t len = u16();
            const std::size_t end = pos + len;
            u8();
            u32();
            t.text = text(u8());
            u32();
            if (pos != end) throw std::runtime_error("LOGINACK length mismatch");
            break;
        }
        case 0xAA:
        case 0xAB: {
            const std::size_t len = u16();
            const std::size_t end = pos + len;
            t.number = static_cast<std::int32_t>(u32());
            u8();
            t.severity = u8();
            t.text = text(u16());
            text(u8());
            text(u8());
            if (wide)
                u32();
            else
                u16();
            if (pos != end) throw std::runtime_error("message length mismatch");
            break;
        }
        case 0x81: {
            const std::size_t n = u16();
            types.clear();
            for (std::size_t i = 0; i < n; ++i) {
                if (wide)
                    u32();
                else
                    u16();
                u16();
                const std::uint8_t ty = u8();
                if (ty == 0xE7 || ty == 0xA7) {  // NVARCHAR, VARCHAR: length, collation
                    u16();
                    bytes(5);
                } else if (ty == 0x26 || ty == 0x68 || ty == 0x6D || ty == 0x6F) {
                    u8();
                } else if (ty == 0x6A || ty == 0x6C) {  // DECIMALN, NUMERICN: length, precision, scale
                    bytes(3);
                } else if (ty != 0x28) {  // DATEN has no length
                    throw std::runtime_error("unexpected column type");
                }
                types.push_back(ty);
                t.colNames.push_back(text(u8()));
            }
            t.colTypes = types;
            break;
        }
        case 0xD1:
            for (std::uint8_t ty : types) {
                if (ty == 0xE7 || ty == 0xA7) {
                    const std::uint16_t n = u16();
                    if (n == 0xFFFF)
                        t.cells.emplace_back();
                    else
                        t.cells.emplace_back(bytes(n));
                } else {
                    const std::uint8_t n = u8();
                    if (n == 0)
                        t.cells.emplace_back();
                    else
                        t.cells.emplace_back(bytes(n));
                }
            }
            break;
        case 0xAC: {  // RETURNVALUE; only int values are ever returned
            t.number = u16();  // parameter ordinal
            t.text = text(u8());
            t.status = u8();
            if (wide)
                u32();
            else
                u16();
            u16();
            t.colTypes.push_back(u8());
            if (t.colTypes.back() != 0x26 || u8() != 4) throw std::runtime_error("RETURNVALUE is not an int");
            const std::uint8_t n = u8();
            if (n == 0)
                t.cells.emplace_back();
            else
                t.cells.emplace_back(bytes(n));
            break;
        }
        case 0x79:  // RETURNSTATUS
            t.count = u32();
            break;
        case 0xFD:
        case 0xFE:
        case 0xFF:
            t.status = u16();
            u16();
            t.count = wide ? (static_cast<std::uint64_t>(u32()) | (static_cast<std::uint64_t>(u32()) << 32)) : u32();
            break;
        default: throw std::runtime_error("unknown token " + std::to_string(t.type));
        }
        out.push_back(std::move(t));
    }
    return out;
}

inline std::string cellText(const std::optional<Bytes>& cell) {
    if (!cell) return "<null>";
    return devserver::tds::utf16leToUtf8(cell->data(), cell->size());
}

inline std::int64_t cellInt(const std::optional<Bytes>& cell) {
    if (!cell) throw std::runtime_error("null cell");
    std::int64_t v = 0;
    for (std::size_t i = 0; i < cell->size(); ++i) v |= static_cast<std::int64_t>((*cell)[i]) << (8 * i);
    if (cell->size() == 4) v = static_cast<std::int32_t>(v);
    return v;
}

}  // namespace tdstest
