// The workstation's 84-byte settings file, written so that demos and tests never hand-craft it.
#include "qtl.h"
#include "text.h"

#include <array>
#include <fstream>
#include <stdexcept>

namespace devserver::qtl {
namespace {

// A field's stored bytes (Windows-1251 minus one) in a 20-byte area, and its length byte.
std::pair<std::array<char, 20>, unsigned char> storeField(const std::string& what, const std::string& utf8) {
    const std::string bytes = text::toCp1251(utf8);
    if (bytes.size() > 20) throw std::runtime_error("settings file: " + what + " is longer than 20 characters");
    std::array<char, 20> area{};
    for (size_t i = 0; i < bytes.size(); ++i) area[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) - 1);
    return {area, static_cast<unsigned char>(bytes.size())};
}

}  // namespace

void writeSettingsFile(const std::string& path, const std::string& user, const std::string& password,
                       const std::string& server, const std::string& database) {
    const auto u = storeField("user name", user);
    const auto p = storeField("password", password);
    const auto s = storeField("server", server);
    const auto d = storeField("database", database);
    std::string bytes;
    bytes.append(u.first.data(), 20);
    bytes.append(p.first.data(), 20);
    bytes.push_back(static_cast<char>(u.second));
    bytes.push_back(static_cast<char>(p.second));
    bytes.append(s.first.data(), 20);
    bytes.append(d.first.data(), 20);
    bytes.push_back(static_cast<char>(s.second));
    bytes.push_back(static_cast<char>(d.second));

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write the settings file " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write the settings file " + path);
}

}  // namespace devserver::qtl
