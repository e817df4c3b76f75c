// Any text through the batch splitter and the translator: it either plans statements or throws
// the server's syntax error, never anything else, and never crashes.
#include "tsql/translate.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// A fixed catalog: every name is a table whose columns are texts when they start with 's'.
class FuzzCatalog : public devserver::tsql::Catalog {
public:
    std::optional<std::string> columnType(const std::string&, const std::string& column) const override {
        if (column.empty()) return std::nullopt;
        return column[0] == 's' ? std::string("NVARCHAR(50)") : std::string("INT");
    }
    bool hasTable(const std::string& name) const override { return name.size() % 2 == 0; }
    std::string tableFunction(const std::string& name, const std::vector<std::string>& args) const override {
        if (name != "GetTFIO_with_pps") return "";
        std::string sql = "(SELECT 1 AS id_teacher";
        for (const auto& a : args) sql += ", " + a;
        return sql + ")";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FuzzCatalog catalog;
    try {
        const auto plan = devserver::tsql::translateBatch(text, catalog);
        for (const auto& st : plan) {
            // The plan points back into the batch.
            if (st.text.empty() || text.find(st.text) == std::string::npos) std::abort();
        }
        (void)devserver::tsql::splitBatch(text);
    } catch (const devserver::tsql::TsqlError& e) {
        if (e.number <= 0 || std::string(e.what()).empty()) std::abort();
    }
    return 0;
}
