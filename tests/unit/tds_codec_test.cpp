#include "qtl/text.h"
#include "tds/codec.h"
#include "tds/request_log.h"
#include "tds_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace devserver;
using namespace devserver::tds;
using tdstest::readTokens;

namespace {

Bytes hex(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
    return b;
}

Bytes valueBytes(const Column& c, const Value& v) {
    Bytes b;
    appendValue(b, c, v);
    return b;
}

Column col(ColType t, int maxChars = 4000) {
    Column c;
    c.name = "c";
    c.type = t;
    c.maxChars = maxChars;
    return c;
}

}  // namespace

TEST(TdsFraming, PreLoginReplyMatchesTheObservedWorkingBytes) {
    Bytes wire = packetize(packet::Reply, buildPreLoginReply(), 4096, 0);
    EXPECT_EQ(wire, hex({0x04, 0x01, 0x00, 0x1a, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x06,
                         0x01, 0x00, 0x11, 0x00, 0x01, 0xff, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00, 0x02}));
    PreLoginRequest parsed;
    std::string error;
    ASSERT_TRUE(parsePreLogin(buildPreLoginReply(), parsed, error)) << error;
    EXPECT_EQ(parsed.encryption, 0x02);  // encryption declined
}

TEST(TdsFraming, ReassemblesMultiPacketMessagesWithoutCheckingPacketIds) {
    Bytes text(10000);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>(i * 7);
    Bytes wire = packetize(packet::SqlBatch, text, 4096, 0);
    for (std::size_t pos = 0; pos < wire.size(); pos += (wire[pos + 2] << 8) | wire[pos + 3])
        wire[pos + 6] = 1;  // FreeTDS leaves the id alone
    std::vector<ClientMessage> messages;
    std::string error;
    ASSERT_TRUE(splitMessages(wire.data(), wire.size(), messages, error)) << error;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].type, packet::SqlBatch);
    EXPECT_EQ(messages[0].payload, text);

    // Incomplete trailing message: nothing reported yet.
    messages.clear();
    ASSERT_TRUE(splitMessages(wire.data(), wire.size() - 1, messages, error));
    EXPECT_TRUE(messages.empty());
}

TEST(TdsFraming, SplitsRepliesAtThePacketSizeWithEomOnlyOnTheLast) {
    Bytes payload(10000, 0xAB);
    Bytes wire = packetize(packet::Reply, payload, 4096, 7);
    ASSERT_EQ(wire.size(), payload.size() + 3 * kHeaderSize);
    const std::size_t lengths[] = {4096, 4096, 10000 - 2 * 4088 + 8};
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        PacketHeader h;
        std::string error;
        ASSERT_TRUE(parseHeader(&wire[pos], wire.size() - pos, h, error));
        EXPECT_EQ(h.type, packet::Reply);
        EXPECT_EQ(h.length, lengths[i]);
        EXPECT_EQ(h.status, i == 2 ? 0x01 : 0x00);
        EXPECT_EQ(h.spid, 7);
        pos += h.length;
    }
    EXPECT_EQ(pos, wire.size());
    Bytes empty = packetize(packet::Reply, Bytes(), 4096, 0);
    EXPECT_EQ(empty, hex({0x04, 0x01, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00}));
}

TEST(TdsFraming, RejectsBrokenFramingCleanly) {
    std::string error;
    std::vector<ClientMessage> messages;
    Bytes shortLength = hex({0x01, 0x01, 0x00, 0x04, 0, 0, 1, 0});
    EXPECT_FALSE(splitMessages(shortLength.data(), shortLength.size(), messages, error));

    // The type may not change inside a message.
    Bytes a = packetize(packet::SqlBatch, Bytes(10, 1), 4096, 0, false);
    Bytes b = packetize(packet::Rpc, Bytes(10, 1), 4096, 0);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_FALSE(splitMessages(a.data(), a.size(), messages, error));

    // A header whose length disagrees with the packet handed over.
    Reassembler r;
    Bytes p = packetize(packet::SqlBatch, Bytes(10, 1), 4096, 0);
    EXPECT_EQ(r.addPacket(p.data(), p.size() - 1, error), Reassembler::Status::Error);

    // Size limit.
    Reassembler small(100);
    Bytes big = packetize(packet::SqlBatch, Bytes(200, 1), 4096, 0);
    EXPECT_EQ(small.addPacket(big.data(), big.size(), error), Reassembler::Status::Error);
}

TEST(TdsFraming, AttentionAbandonsAPartialMessage) {
    Reassembler r;
    std::string error;
    Bytes part = packetize(packet::SqlBatch, Bytes(10, 1), 4096, 0, false);
    ASSERT_EQ(r.addPacket(part.data(), part.size(), error), Reassembler::Status::NeedMore);
    Bytes attn = hex({0x06, 0x01, 0x00, 0x08, 0x00, 0x00, 0x01, 0x00});
    ASSERT_EQ(r.addPacket(attn.data(), attn.size(), error), Reassembler::Status::Complete);
    EXPECT_EQ(r.take().type, packet::Attention);
    Bytes next = packetize(packet::SqlBatch, Bytes(4, 2), 4096, 0);
    ASSERT_EQ(r.addPacket(next.data(), next.size(), error), Reassembler::Status::Complete);
    EXPECT_EQ(r.take().payload, Bytes(4, 2));
}

TEST(TdsPreLogin, ParsesClientOptionsAndRejectsBadOffsets) {
    PreLoginRequest req;
    std::string error;
    ASSERT_TRUE(parsePreLogin(tdstest::buildPreLogin(), req, error)) << error;
    EXPECT_TRUE(req.hasVersion);
    EXPECT_EQ(req.encryption, 0x02);
    EXPECT_FALSE(req.mars);

    Bytes outside = tdstest::buildPreLogin();
    outside[2] = 0xF0;  // VERSION offset past the end
    EXPECT_FALSE(parsePreLogin(outside, req, error));
    Bytes unterminated = hex({0x01, 0x00, 0x05, 0x00, 0x01});
    EXPECT_FALSE(parsePreLogin(unterminated, req, error));
    EXPECT_FALSE(parsePreLogin(Bytes(), req, error));
    EXPECT_FALSE(parsePreLogin(hex({0x00, 0x00, 0x06, 0x00, 0x01, 0xff}), req, error));  // VERSION too short
}

TEST(TdsLogin7, ParsesFieldsByOffsetsAndDeobfuscatesThePassword) {
    EXPECT_EQ(deobfuscatePassword(hex({0xa2, 0xa5}).data(), 2), hex({0x70, 0x00}));  // "p"

    Bytes login = tdstest::buildLogin7("оператор", "pässwörd", "QTL", 0x74000004, 8192);
    Login7Request req;
    std::string error;
    ASSERT_TRUE(parseLogin7(login, req, error)) << error;
    EXPECT_EQ(req.userName, "оператор");
    EXPECT_EQ(req.password, "pässwörd");
    EXPECT_EQ(req.database, "QTL");
    EXPECT_EQ(req.hostName, "testhost");
    EXPECT_EQ(req.appName, "tds tests");
    EXPECT_EQ(req.libraryName, "TDS-Library");
    EXPECT_EQ(req.tdsVersion, 0x74000004u);
    EXPECT_EQ(req.packetSize, 8192u);
    EXPECT_FALSE(req.integratedSecurity);
    EXPECT_TRUE(hasAllHeaders(req.tdsVersion));
    EXPECT_FALSE(hasAllHeaders(0x71000001));

    // Offsets are followed, not assumed: move the user name to the end of the record.
    Bytes moved = login;
    Bytes name = tdstest::utf16("viewer");
    const auto at = static_cast<std::uint16_t>(moved.size());
    moved.insert(moved.end(), name.begin(), name.end());
    moved[40] = static_cast<std::uint8_t>(at), moved[41] = static_cast<std::uint8_t>(at >> 8);
    moved[42] = 6, moved[43] = 0;
    const auto total = static_cast<std::uint32_t>(moved.size());
    std::memcpy(moved.data(), &total, 4);
    ASSERT_TRUE(parseLogin7(moved, req, error)) << error;
    EXPECT_EQ(req.userName, "viewer");
}

TEST(TdsLogin7, RejectsRecordsThatPointOutsideThemselves) {
    const Bytes login = tdstest::buildLogin7("operator", "operator", "QTL");
    Login7Request req;
    std::string error;
    Bytes bad = login;
    bad[42] = 0xFF;  // user name length runs past the end
    EXPECT_FALSE(parseLogin7(bad, req, error));
    bad = login;
    bad[0] = 0xFF, bad[1] = 0xFF;  // declared length larger than the data
    EXPECT_FALSE(parseLogin7(bad, req, error));
    // Every truncation is refused or parsed inside bounds, never read past the end.
    for (std::size_t n = 0; n < login.size(); ++n) {
        Bytes cut(login.begin(), login.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(parseLogin7(cut, req, error)) << n;
    }
}

TEST(TdsSqlBatch, SkipsAllHeadersAndDecodesUtf16WithSurrogates) {
    const std::string text = "SELECT N'Иванов 😀'\r\nFROM w_s";
    std::string out, error;
    ASSERT_TRUE(parseSqlBatch(tdstest::buildBatch(text), true, out, error)) << error;
    EXPECT_EQ(out, text);
    ASSERT_TRUE(parseSqlBatch(tdstest::buildBatch(text, false), false, out, error)) << error;
    EXPECT_EQ(out, text);

    Bytes odd = tdstest::buildBatch("x");
    odd.push_back(0x41);
    EXPECT_FALSE(parseSqlBatch(odd, true, out, error));
    Bytes headers = tdstest::buildBatch("x");
    headers[0] = 0xFF;  // total length beyond the packet
    EXPECT_FALSE(parseSqlBatch(headers, true, out, error));
    headers = tdstest::buildBatch("x");
    headers[4] = 40;  // inner header longer than ALL_HEADERS
    EXPECT_FALSE(parseSqlBatch(headers, true, out, error));
    EXPECT_FALSE(parseSqlBatch(hex({1, 0}), true, out, error));

    // A lone surrogate cannot be represented in UTF-8 and becomes U+FFFD.
    Bytes lone = hex({0x3D, 0xD8, 0x41, 0x00});
    EXPECT_EQ(utf16leToUtf8(lone.data(), lone.size()),
              "\xEF\xBF\xBD"
              "A");
}

TEST(TdsSqlBatch, NamesRpcProcedures) {
    std::string name, error;
    Bytes byId = tdstest::buildBatch("", true);
    tdstest::put16(byId, 0xFFFF);
    tdstest::put16(byId, 2);
    ASSERT_TRUE(parseRpcName(byId, true, name, error));
    EXPECT_EQ(name, "sp_cursoropen");
    Bytes byName = tdstest::buildBatch("", true);
    tdstest::put16(byName, 6);
    Bytes n = tdstest::utf16("MyProc");
    byName.insert(byName.end(), n.begin(), n.end());
    ASSERT_TRUE(parseRpcName(byName, true, name, error));
    EXPECT_EQ(name, "MyProc");
    byName.pop_back();
    EXPECT_FALSE(parseRpcName(byName, true, name, error));
}

TEST(TdsValues, DateTimeUsesDaysSince1900AndThreeHundredthsOfASecond) {
    EXPECT_EQ(valueBytes(col(ColType::DateTime), std::string("2024-03-15 13:45:30.500")),
              hex({0x08, 0x34, 0xb1, 0x00, 0x00, 0x8e, 0xbb, 0xe2, 0x00}));
    EXPECT_EQ(valueBytes(col(ColType::DateTime), std::string("1900-01-01")), hex({0x08, 0, 0, 0, 0, 0, 0, 0, 0}));
    std::int32_t days;
    std::uint32_t ticks;
    ASSERT_TRUE(parseDateTime("2024-03-15T23:59:59.999", days, ticks));  // rounds into the next day
    EXPECT_EQ(days, 45365);
    EXPECT_EQ(ticks, 0u);
    ASSERT_TRUE(parseDateTime("1899-12-31 00:00:00.002", days, ticks));
    EXPECT_EQ(days, -1);
    EXPECT_EQ(ticks, 1u);
    EXPECT_FALSE(parseDateTime("2023-02-29", days, ticks));
    EXPECT_FALSE(parseDateTime("1752-12-31", days, ticks));
    EXPECT_FALSE(parseDateTime("2024-03-15 24:00:00", days, ticks));
    EXPECT_FALSE(parseDateTime("2024-03-15 10:00:00.", days, ticks));
    EXPECT_EQ(valueBytes(col(ColType::DateTime), std::string("not a date")), hex({0x00}));
    EXPECT_EQ(valueBytes(col(ColType::DateTime), std::int64_t{2}), hex({0x08, 2, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(TdsValues, CellsAreConvertedToTheDeclaredColumnTypeOrBecomeNull) {
    const Column i = col(ColType::Int), big = col(ColType::BigInt), bit = col(ColType::Bit), fl = col(ColType::Float);
    EXPECT_EQ(valueBytes(i, std::int64_t{-2}), hex({4, 0xfe, 0xff, 0xff, 0xff}));
    EXPECT_EQ(valueBytes(i, 3.9), hex({4, 3, 0, 0, 0}));
    EXPECT_EQ(valueBytes(i, std::string(" 42 ")), hex({4, 42, 0, 0, 0}));
    EXPECT_EQ(valueBytes(i, std::string("4x")), hex({0}));
    EXPECT_EQ(valueBytes(i, std::int64_t{1} << 40), hex({0}));  // does not fit in int
    EXPECT_EQ(valueBytes(i, Value{}), hex({0}));
    EXPECT_EQ(valueBytes(big, std::int64_t{1} << 40), hex({8, 0, 0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(valueBytes(bit, std::int64_t{5}), hex({1, 1}));
    EXPECT_EQ(valueBytes(bit, std::string("false")), hex({1, 0}));
    EXPECT_EQ(valueBytes(bit, std::string("maybe")), hex({0}));
    Bytes two = valueBytes(fl, std::int64_t{2});
    ASSERT_EQ(two.size(), 9u);
    double d;
    std::memcpy(&d, &two[1], 8);
    EXPECT_EQ(d, 2.0);
    EXPECT_EQ(valueBytes(fl, std::string("1e400")), hex({0}));  // not a finite float
    EXPECT_EQ(valueBytes(fl, std::string("abc")), hex({0}));
}

TEST(TdsValues, NVarCharIsUtf16CutAtACharacterBoundary) {
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 10), Value{}), hex({0xff, 0xff}));
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 10), std::string("Яa")), hex({4, 0, 0x2f, 0x04, 0x61, 0x00}));
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 3), std::string("абвг")),
              hex({6, 0, 0x30, 0x04, 0x31, 0x04, 0x32, 0x04}));
    // A surrogate pair that does not fit whole is dropped whole.
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 3), std::string("ab😀")), hex({4, 0, 0x61, 0, 0x62, 0}));
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 10), std::int64_t{26}), hex({4, 0, 0x32, 0, 0x36, 0}));
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 10), 0.1), hex({6, 0, 0x30, 0, 0x2e, 0, 0x31, 0}));
    // Broken UTF-8 from the engine still gives a well-formed cell.
    EXPECT_EQ(valueBytes(col(ColType::NVarChar, 10), std::string("\xC0")), hex({2, 0, 0xfd, 0xff}));

    Bytes ti;
    appendTypeInfo(ti, col(ColType::NVarChar, 50), kCyrillicGeneralCiAs.bytes);
    EXPECT_EQ(ti, hex({0xe7, 100, 0, 0x19, 0x04, 0xd0, 0x00, 0x00}));
}

TEST(TdsTokens, LoginAckHasAnExactLengthAndTheServersOwnName) {
    ReplyBuilder r;
    r.loginAck();
    Bytes b = r.finish();
    const std::u16string name = u"QTL devserver";
    ASSERT_EQ(b.size(), 3 + 1 + 4 + 1 + name.size() * 2 + 4);
    EXPECT_EQ(b[0], 0xAD);
    EXPECT_EQ(b[1] | (b[2] << 8), static_cast<int>(b.size() - 3));
    EXPECT_EQ(Bytes(b.begin() + 3, b.begin() + 8), hex({0x01, 0x74, 0x00, 0x00, 0x04}));
    EXPECT_EQ(b[8], name.size());
    auto tokens = readTokens(b);
    EXPECT_EQ(tokens.at(0).text, "QTL devserver");

    ReplyBuilder old(negotiatedVersion(0x71000001));
    old.loginAck();
    Bytes o = old.finish();
    EXPECT_EQ(Bytes(o.begin() + 4, o.begin() + 8), hex({0x71, 0x00, 0x00, 0x01}));
    EXPECT_EQ(negotiatedPacketSize(4096), 4096u);
    EXPECT_EQ(negotiatedPacketSize(100), 512u);
    EXPECT_EQ(negotiatedPacketSize(100000), 32767u);
    EXPECT_EQ(negotiatedPacketSize(0), 4096u);
}

TEST(TdsTokens, EnvChangesCarryValuesAsClientsReadThem) {
    ReplyBuilder r;
    r.envChange(1, "QTL", "master");
    r.envCollation(kCyrillicGeneralCiAs);
    r.envChange(4, "4096", "4096");
    r.envBeginTran(0x0102030405060708ull);
    r.envEndTran(9, 0x0102030405060708ull);
    auto t = readTokens(r.finish());
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].envType, 1);
    EXPECT_EQ(t[0].text, "QTL");
    EXPECT_EQ(t[1].envType, 7);
    EXPECT_EQ(t[1].envNew, hex({0x19, 0x04, 0xd0, 0x00, 0x00}));
    EXPECT_EQ(t[2].text, "4096");
    EXPECT_EQ(t[3].envNew, hex({8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_TRUE(t[3].envOld.empty());
    EXPECT_TRUE(t[4].envNew.empty());
    EXPECT_EQ(t[4].envOld, hex({8, 7, 6, 5, 4, 3, 2, 1}));
}

TEST(TdsTokens, BatchOutcomeSetsMoreOnEveryDoneButTheLast) {
    BatchOutcome outcome;
    StatementOutcome select;
    select.results.push_back(ResultSet{{Column{"id", ColType::Int, 0}, Column{"name", ColType::NVarChar, 20}},
                                       {{std::int64_t{1}, std::string("Анна")}, {std::int64_t{2}, Value{}}}});
    StatementOutcome update;
    update.hasRowCount = true;
    update.rowCount = 3;
    StatementOutcome failed;
    failed.failed = true;
    failed.messages.push_back(Message{547, 0, 16, "The DELETE statement conflicted", "", 2});
    outcome.statements = {select, update, failed};
    ReplyBuilder r;
    std::uint64_t tran = 0, next = 1;
    writeBatchOutcome(r, outcome, tran, next);
    auto t = readTokens(r.finish());
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[0].type, 0x81);
    EXPECT_EQ(t[0].colNames, (std::vector<std::string>{"id", "name"}));
    EXPECT_EQ(tdstest::cellInt(t[1].cells[0]), 1);
    EXPECT_EQ(tdstest::cellText(t[1].cells[1]), "Анна");
    EXPECT_FALSE(t[2].cells[1].has_value());
    EXPECT_EQ(t[3].type, kDone);
    EXPECT_EQ(t[3].status, done::More | done::Count);
    EXPECT_EQ(t[3].count, 2u);
    EXPECT_EQ(t[4].status, done::More | done::Count);
    EXPECT_EQ(t[4].count, 3u);
    EXPECT_EQ(t[5].type, 0xAA);
    EXPECT_EQ(t[5].number, 547);
    EXPECT_EQ(t[5].text, "The DELETE statement conflicted");
    EXPECT_EQ(t[6].type, kDone);
    EXPECT_EQ(t[6].status, done::Error);  // last: no "more"
}

TEST(TdsTokens, ProceduresEndInDoneInProcThenDoneProcAndTransactionsAnnounceThemselves) {
    BatchOutcome outcome;
    StatementOutcome begin;
    begin.tran = StatementOutcome::Tran::Begin;
    StatementOutcome proc;
    proc.isProcedure = true;
    proc.results.push_back(ResultSet{{Column{"x", ColType::Bit, 0}}, {{std::int64_t{1}}}});
    StatementOutcome commit;
    commit.tran = StatementOutcome::Tran::Commit;
    outcome.statements = {begin, proc, commit};
    ReplyBuilder r;
    std::uint64_t tran = 0, next = 5;
    writeBatchOutcome(r, outcome, tran, next);
    auto t = readTokens(r.finish());
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[0].envType, 8);
    EXPECT_EQ(t[1].type, kDone);
    EXPECT_EQ(t[1].status, done::More);
    EXPECT_EQ(t[4].type, kDoneInProc);
    EXPECT_EQ(t[4].status, done::More | done::Count);
    EXPECT_EQ(t[5].type, kDoneProc);
    EXPECT_EQ(t[5].status, done::More);
    EXPECT_EQ(t[6].envType, 9);
    EXPECT_EQ(t[6].envOld, t[0].envNew);  // commit names the transaction begun
    EXPECT_EQ(t[7].status, 0);
    EXPECT_EQ(tran, 0u);
    EXPECT_EQ(next, 6u);
}

TEST(TdsTokens, OlderClientsGetNarrowCountsAndLineNumbers) {
    Bytes reply = buildErrorReply(0x71000001, ServerIdentity(), 18456, 14, "Login failed for user 'x'.");
    auto t = readTokens(reply, false);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].number, 18456);
    EXPECT_EQ(t[0].severity, 14);
    EXPECT_EQ(t[1].status, done::Error);
    EXPECT_EQ(readTokens(buildAttentionAck(0x74000004)).at(0).status, done::Attention);
}

TEST(TdsRequestLog, LinesAreJsonWithTextKeptExactly) {
    EXPECT_EQ(formatLogLine(3, "batch", "operator", "SELECT 1\r\nFROM \"t\" -- \\ \x01\tЯ"),
              "{\"session\":3,\"kind\":\"batch\",\"user\":\"operator\",\"text\":"
              "\"SELECT 1\\r\\nFROM \\\"t\\\" -- \\\\ \\u0001\\tЯ\"}\n");
}

namespace {

Bytes fromHex(const std::string& h) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
}

// Payloads (packet header removed) the ODBC driver sent when isql prepared "SELECT * FROM w_s"
// and then released the handle the server had returned (1).
const Bytes kDriverPrepExec = fromHex(
    "16000000120000000200000000000000000001000000ffff0d0000000001260400000063000000001904d00000"
    "ffffffff000063220000001904d0000022000000530045004c0045004300540020002a002000460052004f004d0020"
    "0077005f007300");
const Bytes kDriverUnprepare = fromHex("16000000120000000200000000000000000001000000ffff0f000000000026040401000000");

Bytes nvarcharParam(const std::string& v, bool plp) {
    Bytes b = tdstest::paramHeader(0);
    const Bytes t = tdstest::utf16(v);
    b.push_back(0xE7);
    tdstest::put16(b, plp ? 0xFFFF : 8000);
    for (std::uint8_t c : {0x19, 0x04, 0xd0, 0x00, 0x00}) b.push_back(c);
    if (!plp) {
        tdstest::put16(b, static_cast<std::uint16_t>(t.size()));
        b.insert(b.end(), t.begin(), t.end());
        return b;
    }
    tdstest::put32(b, static_cast<std::uint32_t>(t.size()));
    tdstest::put32(b, 0);
    // Two chunks (none for an empty text), then the terminator.
    const std::size_t half = (t.size() / 2) & ~std::size_t{1};
    if (half > 0) {
        tdstest::put32(b, static_cast<std::uint32_t>(half));
        b.insert(b.end(), t.begin(), t.begin() + static_cast<std::ptrdiff_t>(half));
    }
    if (t.size() > half) {
        tdstest::put32(b, static_cast<std::uint32_t>(t.size() - half));
        b.insert(b.end(), t.begin() + static_cast<std::ptrdiff_t>(half), t.end());
    }
    tdstest::put32(b, 0);
    return b;
}

}  // namespace

TEST(TdsRpc, DriverPrepExecAndUnprepareAreRead) {
    RpcRequest r;
    std::string error;
    ASSERT_TRUE(parseRpcRequest(kDriverPrepExec, true, r, error)) << error;
    EXPECT_EQ(r.procId, procid::PrepExec);
    EXPECT_EQ(r.procedure, "sp_prepexec");
    ASSERT_EQ(r.params.size(), 3u);
    EXPECT_TRUE(r.unreadRest.empty());
    EXPECT_EQ(r.params[0].status, 0x01);
    EXPECT_TRUE(r.params[0].isNull);
    EXPECT_TRUE(r.params[1].isNull);
    EXPECT_EQ(r.params[1].type, 0x63);
    EXPECT_TRUE(r.params[2].isUnicodeText);
    EXPECT_EQ(r.params[2].text, "SELECT * FROM w_s");

    RpcAction a = planRpc(kDriverPrepExec, true);
    EXPECT_EQ(a.kind, RpcAction::Kind::Run);
    EXPECT_EQ(a.statement, "SELECT * FROM w_s");
    EXPECT_TRUE(a.returnsHandle);
    EXPECT_EQ(a.logText, "sp_prepexec: SELECT * FROM w_s");

    a = planRpc(kDriverUnprepare, true);
    EXPECT_EQ(a.kind, RpcAction::Kind::Unprepare);
    EXPECT_EQ(a.handle, 1);
    EXPECT_EQ(a.logText, "sp_unprepare: 1");

    // Without ALL_HEADERS (7.1 clients) the same call reads the same.
    a = planRpc(tdstest::buildRpc(procid::PrepExec,
                                  {tdstest::intParam(std::nullopt, 1), tdstest::ntextParam(""),
                                   tdstest::ntextParam("SELECT 'Осенний'")},
                                  false),
                false);
    EXPECT_EQ(a.kind, RpcAction::Kind::Run);
    EXPECT_EQ(a.statement, "SELECT 'Осенний'");
}

TEST(TdsRpc, ExecuteSqlRunsAStatementGivenAsNVarCharOrInChunks) {
    for (bool plp : {false, true}) {
        const std::string stmt = "SELECT * FROM w_s WHERE p42 = N'Летний'";
        RpcAction a = planRpc(tdstest::buildRpc(procid::ExecuteSql, {nvarcharParam(stmt, plp)}), true);
        EXPECT_EQ(a.kind, RpcAction::Kind::Run) << plp << a.errorText;
        EXPECT_EQ(a.statement, stmt);
        EXPECT_FALSE(a.returnsHandle);
        // An empty parameter list is still no parameters.
        a = planRpc(tdstest::buildRpc(procid::ExecuteSql, {nvarcharParam(stmt, plp), nvarcharParam("", plp)}), true);
        EXPECT_EQ(a.kind, RpcAction::Kind::Run) << plp << a.errorText;
    }
}

TEST(TdsRpc, BoundParametersAndOtherCallsAreRefusedClearly) {
    const std::string kNoParams = "parameters in prepared statements are not supported";
    // A parameter definition, a bound value, or both.
    RpcAction a = planRpc(tdstest::buildPrepExec("SELECT 1"), true);
    ASSERT_EQ(a.kind, RpcAction::Kind::Run);
    a = planRpc(tdstest::buildRpc(procid::PrepExec, {tdstest::intParam(std::nullopt, 1), tdstest::ntextParam("@P1 int"),
                                                     tdstest::ntextParam("SELECT ?")}),
                true);
    EXPECT_EQ(a.kind, RpcAction::Kind::Refuse);
    EXPECT_EQ(a.errorText, kNoParams);
    EXPECT_EQ(a.errorNumber, sqlerr::UnsupportedRequest);
    a = planRpc(
        tdstest::buildRpc(procid::PrepExec, {tdstest::intParam(std::nullopt, 1), tdstest::ntextParam(std::nullopt),
                                             tdstest::ntextParam("SELECT @P1"), tdstest::intParam(5)}),
        true);
    EXPECT_EQ(a.errorText, kNoParams);
    EXPECT_EQ(a.logText, "sp_prepexec: SELECT @P1");
    // A bound value of a type this server does not read (XML) is still a bound value.
    Bytes xml = tdstest::buildPrepExec("SELECT @P1");
    xml.push_back(0);
    xml.push_back(0);
    xml.push_back(0xF1);
    a = planRpc(xml, true);
    EXPECT_EQ(a.errorText, kNoParams);
    a = planRpc(tdstest::buildRpc(procid::ExecuteSql, {nvarcharParam("SELECT @a", false),
                                                       nvarcharParam("@a int", false), tdstest::intParam(1)}),
                true);
    EXPECT_EQ(a.errorText, kNoParams);

    // Other procedures keep today's refusal, by id or by name.
    for (std::uint16_t id : {procid::Prepare, procid::Execute, std::uint16_t{2}}) {
        a = planRpc(tdstest::buildRpc(id, {tdstest::intParam(1)}), true);
        EXPECT_EQ(a.kind, RpcAction::Kind::Refuse);
        EXPECT_EQ(a.errorText, "RPC requests are not supported by this server");
    }
    Bytes byName = tdstest::buildBatch("");
    tdstest::put16(byName, 6);
    const Bytes n = tdstest::utf16("MyProc");
    byName.insert(byName.end(), n.begin(), n.end());
    tdstest::put16(byName, 0);
    a = planRpc(byName, true);
    EXPECT_EQ(a.logText, "MyProc");
    EXPECT_EQ(a.errorText, "RPC requests are not supported by this server");

    // The statement must be Unicode text; the handle of sp_unprepare an int.
    Bytes varcharStmt = tdstest::buildRpc(procid::ExecuteSql, {});
    const Bytes vc = tdstest::paramHeader(0);
    varcharStmt.insert(varcharStmt.end(), vc.begin(), vc.end());
    for (int c : {0xA7, 0x08, 0x00, 0x19, 0x04, 0xd0, 0x00, 0x00, 0x01, 0x00, int{'x'}})
        varcharStmt.push_back(static_cast<std::uint8_t>(c));
    a = planRpc(varcharStmt, true);
    EXPECT_EQ(a.kind, RpcAction::Kind::Refuse);
    EXPECT_EQ(a.errorNumber, sqlerr::MalformedRequest);
    a = planRpc(tdstest::buildRpc(procid::Unprepare, {tdstest::ntextParam("1")}), true);
    EXPECT_EQ(a.kind, RpcAction::Kind::Refuse);
    a = planRpc(tdstest::buildRpc(procid::Unprepare, {tdstest::intParam(1), tdstest::intParam(2)}), true);
    EXPECT_EQ(a.kind, RpcAction::Kind::Refuse);
}

TEST(TdsRpc, TruncatedOrCorruptedCallsAreNeverRun) {
    // Every cut of the driver's call short of the whole is refused, without reading past the end.
    for (std::size_t n = 0; n < kDriverPrepExec.size(); ++n) {
        const Bytes cut(kDriverPrepExec.begin(), kDriverPrepExec.begin() + static_cast<std::ptrdiff_t>(n));
        const RpcAction a = planRpc(cut, true);
        EXPECT_EQ(a.kind, RpcAction::Kind::Refuse) << n;
        EXPECT_FALSE(a.errorText.empty()) << n;
    }
    // A statement length running past the end.
    Bytes longer = kDriverPrepExec;
    longer[longer.size() - 2 * 17 - 4] = 0x40;
    EXPECT_EQ(planRpc(longer, true).kind, RpcAction::Kind::Refuse);
    // An odd byte count cannot be UCS-2.
    Bytes odd = tdstest::buildRpc(procid::ExecuteSql, {});
    const Bytes h = tdstest::paramHeader(0);
    odd.insert(odd.end(), h.begin(), h.end());
    for (int c : {0x63, 0x10, 0, 0, 0, 0x19, 0x04, 0xd0, 0x00, 0x00, 0x03, 0, 0, 0, int{'a'}, 0, int{'b'}})
        odd.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(planRpc(odd, true).kind, RpcAction::Kind::Refuse);
}

TEST(TdsTokens, RpcBodyEndsInDoneInProcThenReturnValueStatusAndDoneProc) {
    BatchOutcome o;
    StatementOutcome st;
    st.results.push_back(ResultSet{{col(ColType::Int)}, {{std::int64_t{7}}}});
    o.statements.push_back(st);
    std::uint64_t tran = 0, next = 1;
    ReplyBuilder r;
    writeBatchOutcome(r, o, tran, next, true);
    r.returnInt(0, "", 42);
    r.returnStatus(0);
    r.done(kDoneProc, 0, 0, 0);
    const Bytes b = r.finish();
    auto t = readTokens(b);
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[2].type, 0xFF);
    EXPECT_EQ(t[2].status, done::More | done::Count);
    EXPECT_EQ(t[2].count, 1u);
    EXPECT_EQ(t[3].type, 0xAC);
    EXPECT_EQ(t[5].type, 0xFE);
    EXPECT_EQ(t[5].status, 0);
    // RETURNVALUE: ordinal 0, no name, OUTPUT, user type 0, nullable, INTN(4) = 42; RETURNSTATUS 0.
    const Bytes tail(b.end() - 13 - 5 - 18, b.end() - 13);
    EXPECT_EQ(tail, hex({0xAC, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x26,
                         0x04, 0x04, 0x2A, 0x00, 0x00, 0x00, 0x79, 0x00, 0x00, 0x00, 0x00}));

    // A named handle keeps its name; 7.1 has a 2-byte user type.
    ReplyBuilder old(0x71000001);
    old.returnInt(0, "@h", -1);
    EXPECT_EQ(old.finish(), hex({0xAC, 0x00, 0x00, 0x02, '@',  0x00, 'h',  0x00, 0x01, 0x00,
                                 0x00, 0x09, 0x00, 0x26, 0x04, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
}

// Each result type's TYPE_INFO and cells as MS-TDS 2.2.5.4-2.2.5.5 lay them out.
TEST(TdsValues, IntegerDecimalDateAndVarCharTypesTravelAsTheirOwnTypes) {
    auto decimal = [](int precision, int scale) {
        Column c = col(ColType::Decimal);
        c.precision = precision;
        c.scale = scale;
        return c;
    };
    const struct {
        const char* what;
        Column column;
        Bytes typeInfo;
        Value value;
        Bytes cell;
    } rows[] = {
        {"tinyint", col(ColType::TinyInt), hex({0x26, 1}), std::int64_t{200}, hex({1, 200})},
        {"tinyint out of range", col(ColType::TinyInt), hex({0x26, 1}), std::int64_t{-1}, hex({0})},
        {"smallint", col(ColType::SmallInt), hex({0x26, 2}), std::int64_t{-2}, hex({2, 0xfe, 0xff})},
        {"smallint out of range", col(ColType::SmallInt), hex({0x26, 2}), std::int64_t{40000}, hex({0})},
        {"int", col(ColType::Int), hex({0x26, 4}), std::int64_t{258}, hex({4, 2, 1, 0, 0})},
        {"bigint", col(ColType::BigInt), hex({0x26, 8}), std::int64_t{-1},
         hex({8, 255, 255, 255, 255, 255, 255, 255, 255})},
        {"bit", col(ColType::Bit), hex({0x68, 1}), std::int64_t{1}, hex({1, 1})},
        // decimal(10,3) 1.5: 9 bytes (precision 10..19), sign 1 = positive, 1500 little-endian.
        {"decimal(10,3)", decimal(10, 3), hex({0x6a, 9, 10, 3}), 1.5, hex({9, 1, 0xdc, 0x05, 0, 0, 0, 0, 0, 0})},
        {"decimal(5,1) negative", decimal(5, 1), hex({0x6a, 5, 5, 1}), -2.5, hex({5, 0, 25, 0, 0, 0})},
        {"decimal(38,0)", decimal(38, 0), hex({0x6a, 17, 38, 0}), std::int64_t{7},
         hex({17, 1, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"decimal too wide for its precision", decimal(3, 1), hex({0x6a, 5, 3, 1}), 123.0, hex({0})},
        // date: days since 0001-01-01 in three bytes; 2024-03-15 is day 738959.
        {"date", col(ColType::Date), hex({0x28}), std::string("2024-03-15"), hex({3, 0x8f, 0x46, 0x0b})},
        {"date NULL", col(ColType::Date), hex({0x28}), Value{}, hex({0})},
        {"varchar", col(ColType::VarChar, 5), hex({0xa7, 5, 0, 0x19, 0x04, 0xd0, 0x00, 0x00}), std::string("Ёж€😀"),
         hex({4, 0, 0xa8, 0xe6, 0x88, '?'})},
        {"varchar cut", col(ColType::VarChar, 2), hex({0xa7, 2, 0, 0x19, 0x04, 0xd0, 0x00, 0x00}), std::string("abc"),
         hex({2, 0, 'a', 'b'})},
        {"varchar NULL", col(ColType::VarChar, 2), hex({0xa7, 2, 0, 0x19, 0x04, 0xd0, 0x00, 0x00}), Value{},
         hex({0xff, 0xff})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes ti;
        appendTypeInfo(ti, row.column, kCyrillicGeneralCiAs.bytes);
        EXPECT_EQ(ti, row.typeInfo);
        EXPECT_EQ(valueBytes(row.column, row.value), row.cell);
    }
}

// COLMETADATA flags say what the column is; a date reaches a client older than TDS 7.3 as
// NVARCHAR(10), as the server sends it to down-level clients.
TEST(TdsTokens, ColumnFlagsAndDownLevelDates) {
    Column c = col(ColType::Int);
    c.nullable = false;
    EXPECT_EQ(columnFlags(c), 0x0008);
    c.identity = true;
    EXPECT_EQ(columnFlags(c), 0x0018);
    c.nullable = true;
    c.identity = false;
    EXPECT_EQ(columnFlags(c), kColumnFlagsNullable);

    const Column date = col(ColType::Date);
    EXPECT_EQ(columnForClient(date, 0x74000004).type, ColType::Date);
    EXPECT_EQ(columnForClient(date, 0x730B0003).type, ColType::Date);
    const Column old = columnForClient(date, 0x71000001);
    EXPECT_EQ(old.type, ColType::NVarChar);
    EXPECT_EQ(old.maxChars, 10);

    ReplyBuilder r(0x71000001);
    r.colMetadata({date});
    r.row({date}, {std::string("2026-12-31")});
    const auto tokens = readTokens(r.finish(), false);
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].colTypes, std::vector<std::uint8_t>{0xE7});
    ASSERT_EQ(tokens[1].cells.size(), 1u);
    EXPECT_EQ(tokens[1].cells[0]->size(), 20u);  // "2026-12-31" in UTF-16
}

// The Windows-1251 encoder agrees with the system's converter on every character of the code
// page, and gives '?' for one outside it.
TEST(TdsValues, VarCharTextIsWindows1251) {
    for (int b = 0x20; b < 0x100; ++b) {
        if (b == 0x98) continue;  // unassigned in Windows-1251
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = devserver::qtl::text::fromCp1251(byte);
        EXPECT_EQ(toCp1251Lossy(utf8), byte) << "byte " << b;
    }
    EXPECT_EQ(toCp1251Lossy("日本"), "??");
}
