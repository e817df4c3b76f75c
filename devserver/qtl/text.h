// Text helpers of the QTL database: the Cyrillic-aware collation and LIKE, the Windows-1251
// byte form the workstation uses for digests and stored credentials, and MD5.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devserver::qtl::text {

// Compares two UTF-8 texts as the server's Cyrillic case-insensitive collation does:
// Latin and Cyrillic letters fold to lower case, Cyrillic letters sort in Russian alphabetical
// order (ё right after е), Latin letters before Cyrillic. Returns <0, 0, >0.
int collate(std::string_view a, std::string_view b);

// T-SQL LIKE: % any run, _ one character, [abc] / [a-z] / [^a] sets, optional escape character
// (0 = none). Case-insensitive for Latin and Cyrillic. `pattern` and `value` are UTF-8.
bool like(std::string_view pattern, std::string_view value, char32_t escape = 0);

struct Token;

// A LIKE pattern parsed once, for matching many values.
class LikePattern {
public:
    LikePattern(std::string_view pattern, char32_t escape);
    bool matches(std::string_view value) const;
    // The same, giving up (nullopt) soon after `stop` turns true: a long value against a pattern
    // with several % takes time in proportion to their product, and a cancelled statement must
    // not wait for it.
    std::optional<bool> matchesUnless(std::string_view value, const std::atomic<bool>* stop) const;
    char32_t escape() const { return escape_; }

private:
    char32_t escape_;
    std::shared_ptr<const std::vector<Token>> tokens_;
};

// UTF-8 <-> Windows-1251. toCp1251 throws std::runtime_error for characters the code page lacks.
std::string toCp1251(const std::string& utf8);
std::string fromCp1251(const std::string& bytes);

// The stored form of a credential: every Windows-1251 byte minus one (mod 256), returned as
// UTF-8 so that the client turns it back into those bytes.
std::string storedForm(const std::string& utf8);

// MD5 digest of the bytes, as 32 uppercase hexadecimal digits.
std::string md5Hex(std::string_view bytes);

// Digest of a password as the workstation sends it: MD5 of its Windows-1251 bytes.
std::string passwordDigest(const std::string& utf8);

}  // namespace devserver::qtl::text
