#include "text.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace devserver::qtl::text {
namespace {

// Decodes one UTF-8 sequence at s[i]; a malformed byte stands for itself so that no input is
// ever dropped from a comparison.
char32_t nextCodePoint(std::string_view s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        const int c1 = cont(1);
        if (c1 >= 0) {
            i += 2;
            return (char32_t(b0 & 0x1F) << 6) | char32_t(c1);
        }
    } else if ((b0 & 0xF0) == 0xE0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1;
        if (c2 >= 0) {
            i += 3;
            return (char32_t(b0 & 0x0F) << 12) | (char32_t(c1) << 6) | char32_t(c2);
        }
    } else if ((b0 & 0xF8) == 0xF0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1, c3 = c2 >= 0 ? cont(3) : -1;
        if (c3 >= 0) {
            i += 4;
            return (char32_t(b0 & 0x07) << 18) | (char32_t(c1) << 12) | (char32_t(c2) << 6) | char32_t(c3);
        }
    }
    ++i;
    return b0;
}

char32_t fold(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 32;
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;  // А..Я
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;  // Ѐ..Џ, among them Ё
    return c;
}

// Sort weight of a folded character: code point order, except that ё sits between е and ж.
std::uint64_t weight(char32_t folded) {
    if (folded == 0x0451) return std::uint64_t(0x0435) * 2 + 1;
    return std::uint64_t(folded) * 2;
}

std::string_view trimTrailingBlanks(std::string_view s) {
    // Trailing blanks do not count in comparisons, as on the server.
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

struct Token {
    enum Kind { Literal, One, Any, Set } kind = Literal;
    std::uint64_t w = 0;  // Literal
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;  // Set
    bool negate = false;  // Set
    bool matches(std::uint64_t c) const {
        switch (kind) {
        case Literal: return c == w;
        case One:
        case Any: return true;
        case Set: {
            bool in = false;
            for (const auto& [lo, hi] : ranges) in = in || (c >= lo && c <= hi);
            return in != negate;
        }
        }
        return false;
    }
};

namespace {

std::vector<Token> tokenize(std::string_view pattern, char32_t escape) {
    std::vector<char32_t> cps;
    for (size_t i = 0; i < pattern.size();) cps.push_back(nextCodePoint(pattern, i));
    std::vector<Token> out;
    for (size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        Token t;
        if (escape != 0 && c == escape && i + 1 < cps.size()) {
            t.w = weight(fold(cps[++i]));
        } else if (c == U'%') {
            if (!out.empty() && out.back().kind == Token::Any) continue;
            t.kind = Token::Any;
        } else if (c == U'_') {
            t.kind = Token::One;
        } else if (c == U'[') {
            size_t close = i + 1;
            while (close < cps.size() && cps[close] != U']') ++close;
            if (close >= cps.size()) {  // no closing bracket: an ordinary character
                t.w = weight(fold(c));
            } else {
                t.kind = Token::Set;
                size_t k = i + 1;
                if (k < close && cps[k] == U'^') {
                    t.negate = true;
                    ++k;
                }
                for (; k < close; ++k) {
                    const auto lo = weight(fold(cps[k]));
                    if (k + 2 < close && cps[k + 1] == U'-') {
                        const auto hi = weight(fold(cps[k + 2]));
                        t.ranges.emplace_back(lo, hi);
                        k += 2;
                    } else {
                        t.ranges.emplace_back(lo, lo);
                    }
                }
                i = close;
            }
        } else {
            t.w = weight(fold(c));
        }
        out.push_back(std::move(t));
    }
    return out;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        // (iconv_t)-1 is iconv_open's documented failure value.
        if (cd_ == reinterpret_cast<iconv_t>(-1))  // NOLINT(performance-no-int-to-ptr)
            throw std::runtime_error("code page conversion unavailable");
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    std::string run(const std::string& in) {
        std::string out(in.size() * 4 + 4, '\0');
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char* dst = out.data();
        size_t dstLeft = out.size();
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1))
            throw std::runtime_error("text cannot be represented in Windows-1251");
        out.resize(out.size() - dstLeft);
        return out;
    }

private:
    iconv_t cd_;
};

// MD5 (RFC 1321).
struct Md5 {
    std::array<std::uint32_t, 4> h{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

    static std::uint32_t rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

    void block(const unsigned char* p) {
        static constexpr std::uint32_t K[64] = {
            0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
            0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
            0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
            0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
            0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
            0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
            0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
            0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
        static constexpr int S[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                      5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                      4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                      6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = std::uint32_t(p[4 * std::size_t(i)]) | (std::uint32_t(p[4 * std::size_t(i) + 1]) << 8) |
                   (std::uint32_t(p[4 * std::size_t(i) + 2]) << 16) | (std::uint32_t(p[4 * std::size_t(i) + 3]) << 24);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t tmp = d;
            d = c;
            c = b;
            b = b + rotl(a + f + K[i] + m[g], S[i]);
            a = tmp;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
};

}  // namespace

int collate(std::string_view a, std::string_view b) {
    a = trimTrailingBlanks(a);
    b = trimTrailingBlanks(b);
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca < 0x80 && cb < 0x80) {  // the common ASCII case without decoding
            const auto fa = fold(ca), fb = fold(cb);
            if (fa != fb) return fa < fb ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        const auto wa = weight(fold(nextCodePoint(a, i)));
        const auto wb = weight(fold(nextCodePoint(b, j)));
        if (wa != wb) return wa < wb ? -1 : 1;
    }
    if (i == a.size() && j == b.size()) return 0;
    return i == a.size() ? -1 : 1;
}

LikePattern::LikePattern(std::string_view pattern, char32_t escape)
    : escape_(escape), tokens_(std::make_shared<std::vector<Token>>(tokenize(pattern, escape))) {}

bool LikePattern::matches(std::string_view value) const {
    return *matchesUnless(value, nullptr);
}

std::optional<bool> LikePattern::matchesUnless(std::string_view value, const std::atomic<bool>* stop) const {
    const auto& toks = *tokens_;
    thread_local std::vector<std::uint64_t> v;
    v.clear();
    for (size_t i = 0; i < value.size();) v.push_back(weight(fold(nextCodePoint(value, i))));
    // Greedy match with backtracking to the last % only: at most (value x pattern) steps, never
    // exponential, and the stop flag is looked at every few thousand of them.
    size_t t = 0, s = 0, starT = SIZE_MAX, starS = 0;
    std::uint32_t steps = 0;
    while (s < v.size()) {
        if (stop && (++steps & 0xFFF) == 0 && stop->load(std::memory_order_relaxed)) return std::nullopt;
        if (t < toks.size() && toks[t].kind == Token::Any) {
            starT = t++;
            starS = s;
        } else if (t < toks.size() && toks[t].matches(v[s])) {
            ++t;
            ++s;
        } else if (starT != SIZE_MAX) {
            t = starT + 1;
            s = ++starS;
        } else {
            return false;
        }
    }
    while (t < toks.size() && toks[t].kind == Token::Any) ++t;
    return t == toks.size();
}

bool like(std::string_view pattern, std::string_view value, char32_t escape) {
    return LikePattern(pattern, escape).matches(value);
}

std::string toCp1251(const std::string& utf8) {
    return Iconv("CP1251", "UTF-8").run(utf8);
}

std::string fromCp1251(const std::string& bytes) {
    return Iconv("UTF-8", "CP1251").run(bytes);
}

std::string storedForm(const std::string& utf8) {
    std::string bytes = toCp1251(utf8);
    for (auto& ch : bytes) ch = static_cast<char>(static_cast<unsigned char>(ch) - 1);
    return fromCp1251(bytes);
}

std::string md5Hex(std::string_view bytes) {
    Md5 md;
    std::string msg(bytes);
    const std::uint64_t bitLen = std::uint64_t(bytes.size()) * 8;
    msg.push_back(static_cast<char>(0x80));
    while (msg.size() % 64 != 56) msg.push_back('\0');
    for (int i = 0; i < 8; ++i) msg.push_back(static_cast<char>((bitLen >> (8 * i)) & 0xFF));
    for (size_t off = 0; off < msg.size(); off += 64)
        md.block(reinterpret_cast<const unsigned char*>(msg.data() + off));
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint32_t word : md.h)
        for (int i = 0; i < 4; ++i) {
            const unsigned byte = (word >> (8 * i)) & 0xFF;
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xF]);
        }
    return out;
}

std::string passwordDigest(const std::string& utf8) {
    return md5Hex(toCp1251(utf8));
}

}  // namespace devserver::qtl::text
