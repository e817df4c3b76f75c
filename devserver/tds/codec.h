// TDS codec: pure functions over byte buffers (no sockets, no engine), so every piece can be
// unit-tested and fuzzed. Integers on the wire are little-endian unless noted.
#pragma once

#include "../engine.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devserver::tds {

using Bytes = std::vector<std::uint8_t>;

namespace packet {
constexpr std::uint8_t SqlBatch = 0x01;
constexpr std::uint8_t Rpc = 0x03;
constexpr std::uint8_t Reply = 0x04;
constexpr std::uint8_t Attention = 0x06;
constexpr std::uint8_t TransactionManager = 0x0E;
constexpr std::uint8_t Login7 = 0x10;
constexpr std::uint8_t PreLogin = 0x12;
}  // namespace packet

constexpr std::size_t kHeaderSize = 8;
constexpr std::uint8_t kStatusEom = 0x01;
constexpr std::size_t kDefaultPacketSize = 4096;
// A client batch larger than this is refused rather than buffered without bound.
constexpr std::size_t kMaxMessageSize = std::size_t{32} * 1024 * 1024;

// ---------------------------------------------------------------------------------------------
// Text

// UCS-2LE/UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD. `size` may be odd: the last
// byte is then ignored (callers that must reject odd lengths check first).
std::string utf16leToUtf8(const std::uint8_t* data, std::size_t size);
// UTF-8 to UTF-16 code units; invalid sequences become U+FFFD.
std::u16string utf8ToUtf16(const std::string& text);
// Appends UTF-16LE bytes.
void appendUtf16le(Bytes& out, const std::u16string& text);
// Cuts to at most `maxUnits` UTF-16 units without splitting a surrogate pair.
std::u16string truncateUtf16(std::u16string text, std::size_t maxUnits);

// ---------------------------------------------------------------------------------------------
// Framing

struct PacketHeader {
    std::uint8_t type = 0;
    std::uint8_t status = 0;
    std::uint16_t length = 0;  // big-endian on the wire, header included
    std::uint16_t spid = 0;
    std::uint8_t packetId = 0;
    std::uint8_t window = 0;
};

// Reads a header; false (with a reason) when `size` < 8 or the length field is < 8.
bool parseHeader(const std::uint8_t* data, std::size_t size, PacketHeader& header, std::string& error);

struct ClientMessage {
    std::uint8_t type = 0;
    std::uint16_t spid = 0;
    Bytes payload;  // packets' bodies concatenated
};

// Joins the packets of one client message. Packet ids are not checked (clients do not
// increment them reliably).
class Reassembler {
public:
    enum class Status { NeedMore, Complete, Error };
    explicit Reassembler(std::size_t maxMessage = kMaxMessageSize) : maxMessage_(maxMessage) {}
    // `packet` is one whole packet, header included, `size` equal to its length field.
    Status addPacket(const std::uint8_t* packet, std::size_t size, std::string& error);
    // The completed message (valid after Complete); resets for the next one.
    ClientMessage take();
    // The largest message accepted from now on (a session may send more once logged in).
    void setLimit(std::size_t maxMessage) { maxMessage_ = maxMessage; }

private:
    std::size_t maxMessage_;
    bool inProgress_ = false;
    ClientMessage current_;
    ClientMessage done_;
};

// Splits a whole byte stream into messages (tests and fuzzing; the server reads packet by
// packet). Stops at the first framing error, returning false with the reason. A trailing
// incomplete packet or message is left unreported.
bool splitMessages(const std::uint8_t* data, std::size_t size, std::vector<ClientMessage>& out, std::string& error);

// Wraps `payload` into packets of at most `packetSize` bytes (header included), the last one
// marked end-of-message. An empty payload still yields one packet.
Bytes packetize(std::uint8_t type, const std::uint8_t* payload, std::size_t size, std::size_t packetSize,
                std::uint16_t spid, bool lastIsEom = true);
inline Bytes packetize(std::uint8_t type, const Bytes& payload, std::size_t packetSize, std::uint16_t spid,
                       bool lastIsEom = true) {
    return packetize(type, payload.data(), payload.size(), packetSize, spid, lastIsEom);
}

// ---------------------------------------------------------------------------------------------
// Requests

struct PreLoginRequest {
    std::optional<std::uint8_t> encryption;
    bool hasVersion = false;
    bool mars = false;
};
bool parsePreLogin(const Bytes& payload, PreLoginRequest& out, std::string& error);
// The ENCRYPTION option's values, both directions.
namespace encrypt {
constexpr std::uint8_t Off = 0x00;  // available but off: only the login travels in TLS
constexpr std::uint8_t On = 0x01;  // the whole session in TLS
constexpr std::uint8_t NotSupported = 0x02;  // no TLS at all: the login travels readable
constexpr std::uint8_t Required = 0x03;
}  // namespace encrypt
// VERSION and ENCRYPTION (by default 0x02, not supported: clients then log in in clear text).
Bytes buildPreLoginReply(std::uint8_t encryption = encrypt::NotSupported);

struct Login7Request {
    std::uint32_t tdsVersion = 0;  // as the client's DWORD reads, e.g. 0x74000004
    std::uint32_t packetSize = 0;
    std::uint32_t clientPid = 0;
    std::string hostName, userName, password, appName, serverName, libraryName, language, database;
    bool integratedSecurity = false;
};
bool parseLogin7(const Bytes& payload, Login7Request& out, std::string& error);
// Password bytes as sent: each byte XOR 0xA5, then nibbles swapped, gives UCS-2LE.
Bytes deobfuscatePassword(const std::uint8_t* data, std::size_t size);

// TDS 7.2 and later put ALL_HEADERS before the text of batches and RPCs.
inline bool hasAllHeaders(std::uint32_t tdsVersion) {
    return (tdsVersion >> 24) >= 0x72;
}

bool parseSqlBatch(const Bytes& payload, bool allHeaders, std::string& text, std::string& error);
// Name of the routine an RPC calls (well-known procedure ids mapped to names); for the log.
bool parseRpcName(const Bytes& payload, bool allHeaders, std::string& name, std::string& error);

namespace procid {
constexpr std::uint16_t ExecuteSql = 10;
constexpr std::uint16_t Prepare = 11;
constexpr std::uint16_t Execute = 12;
constexpr std::uint16_t PrepExec = 13;
constexpr std::uint16_t Unprepare = 15;
}  // namespace procid

// One RPC parameter. Only what the server acts on is decoded: integers and Unicode texts; other
// types are skipped by their length.
struct RpcParam {
    std::string name;  // as sent, e.g. "@handle"; often empty
    std::uint8_t status = 0;  // 0x01: OUTPUT (by reference)
    std::uint8_t type = 0;  // TYPE_INFO type byte
    bool isNull = false;
    bool isInt = false;  // INT1/2/4/8 and INTN: `intValue`
    bool isUnicodeText = false;  // NVARCHAR, NCHAR, NTEXT: `text` (UTF-8)
    std::int64_t intValue = 0;
    std::string text;
};

struct RpcRequest {
    std::string procedure;  // procedure ids mapped to names
    std::uint16_t procId = 0;  // 0 when called by name
    std::uint16_t optionFlags = 0;
    std::vector<RpcParam> params;
    // Set when reading stopped before the end of the request: a parameter of a type this server
    // does not read, or another call batched after this one. The parameters before it are kept.
    std::string unreadRest;
};
// False only when the request cannot be read up to its parameters (headers, name, flags).
bool parseRpcRequest(const Bytes& payload, bool allHeaders, RpcRequest& out, std::string& error);

// What the server does with an RPC. Only the parameterless forms a driver uses to prepare a
// statement are run; every other call is refused.
struct RpcAction {
    enum class Kind { Refuse, Run, Unprepare } kind = Kind::Refuse;
    std::string logText;  // procedure name, with the statement when there is one
    std::string statement;  // Run
    bool returnsHandle = false;  // Run from sp_prepexec: answer the new handle in RETURNVALUE
    std::string handleName;  // name the client gave its handle parameter
    std::int32_t handle = 0;  // Unprepare
    std::int32_t errorNumber = 0;  // Refuse
    std::string errorText;
};
RpcAction planRpc(const RpcRequest& request);
// Parses and plans in one step; a request that cannot be read is refused with the reason.
RpcAction planRpc(const Bytes& payload, bool allHeaders);

// The version the server answers in LOGINACK, matched to what the client asked (at most 7.4),
// in wire order (e.g. 74 00 00 04).
std::uint32_t negotiatedVersion(std::uint32_t clientVersion);
// Packet size the server grants: 0 means the default, else clamped to 512..32767.
std::uint32_t negotiatedPacketSize(std::uint32_t asked);

// ---------------------------------------------------------------------------------------------
// Values

// 1900-01-01 based day count and 1/300 s ticks; false when the text is not a date-time
// "YYYY-MM-DD[( |T)HH:MM[:SS[.fff]]]" in 1753..9999.
bool parseDateTime(const std::string& text, std::int32_t& days, std::uint32_t& ticks);

// Writes TYPE_INFO for a column.
void appendTypeInfo(Bytes& out, const Column& column, const std::uint8_t collation[5]);
// COLMETADATA's flags of a column: nullable, identity, updatability unknown.
std::uint16_t columnFlags(const Column& column);
// The column as a client of `tdsVersion` can take it: a date is NVARCHAR(10) before TDS 7.3.
Column columnForClient(const Column& column, std::uint32_t tdsVersion);
// UTF-8 -> Windows-1251, the code page of the database's collation; a character the code page
// lacks becomes '?', as the server's conversion to varchar does.
std::string toCp1251Lossy(const std::string& utf8);
// Writes one cell converted to the column's type; a value that cannot be converted is written
// as NULL. Texts longer than the column are cut at a character boundary.
void appendValue(Bytes& out, const Column& column, const Value& value);

// ---------------------------------------------------------------------------------------------
// Tokens

// Token types of a reply stream.
namespace token {
constexpr std::uint8_t ReturnStatus = 0x79;
constexpr std::uint8_t ColMetadata = 0x81;
constexpr std::uint8_t Error = 0xAA;
constexpr std::uint8_t Info = 0xAB;
constexpr std::uint8_t ReturnValue = 0xAC;
constexpr std::uint8_t LoginAck = 0xAD;
constexpr std::uint8_t Row = 0xD1;
constexpr std::uint8_t EnvChange = 0xE3;
constexpr std::uint8_t Done = 0xFD;
constexpr std::uint8_t DoneProc = 0xFE;
constexpr std::uint8_t DoneInProc = 0xFF;
}  // namespace token

// ENVCHANGE types the server sends.
namespace envchange {
constexpr std::uint8_t SqlCollation = 7;
constexpr std::uint8_t BeginTran = 8;
constexpr std::uint8_t CommitTran = 9;
constexpr std::uint8_t RollbackTran = 10;
}  // namespace envchange

// TYPE_INFO type bytes: the ones the server answers with and the ones it reads or skips in an
// RPC's parameters.
namespace dtype {
// Fixed length, no length byte.
constexpr std::uint8_t Null = 0x1F;
constexpr std::uint8_t Int1 = 0x30;
constexpr std::uint8_t Bit = 0x32;
constexpr std::uint8_t Int2 = 0x34;
constexpr std::uint8_t Int4 = 0x38;
constexpr std::uint8_t DateTim4 = 0x3A;
constexpr std::uint8_t Flt4 = 0x3B;
constexpr std::uint8_t Money = 0x3C;
constexpr std::uint8_t DateTime = 0x3D;
constexpr std::uint8_t Flt8 = 0x3E;
constexpr std::uint8_t Money4 = 0x7A;
constexpr std::uint8_t Int8 = 0x7F;
// One length byte.
constexpr std::uint8_t Guid = 0x24;
constexpr std::uint8_t IntN = 0x26;
constexpr std::uint8_t Date = 0x28;
constexpr std::uint8_t Time = 0x29;
constexpr std::uint8_t DateTime2 = 0x2A;
constexpr std::uint8_t DateTimeOffset = 0x2B;
constexpr std::uint8_t Decimal = 0x37;
constexpr std::uint8_t Numeric = 0x3F;
constexpr std::uint8_t BitN = 0x68;
constexpr std::uint8_t DecimalN = 0x6A;
constexpr std::uint8_t NumericN = 0x6C;
constexpr std::uint8_t FltN = 0x6D;
constexpr std::uint8_t MoneyN = 0x6E;
constexpr std::uint8_t DateTimeN = 0x6F;
// Two length bytes.
constexpr std::uint8_t BigVarBinary = 0xA5;
constexpr std::uint8_t BigVarChar = 0xA7;
constexpr std::uint8_t BigBinary = 0xAD;
constexpr std::uint8_t BigChar = 0xAF;
constexpr std::uint8_t NVarChar = 0xE7;
constexpr std::uint8_t NChar = 0xEF;
// Four length bytes.
constexpr std::uint8_t Image = 0x22;
constexpr std::uint8_t Text = 0x23;
constexpr std::uint8_t NText = 0x63;
}  // namespace dtype

// A column's or parameter's status: nullable, updatability unknown.
constexpr std::uint16_t kColumnFlagsNullable = 0x0009;
constexpr std::uint16_t kColumnFlagNullable = 0x0001;
constexpr std::uint16_t kColumnFlagUpdatableUnknown = 0x0008;
constexpr std::uint16_t kColumnFlagIdentity = 0x0010;
// An RPC parameter's status bit for OUTPUT (by reference).
constexpr std::uint8_t kParamOutput = 0x01;

namespace done {
constexpr std::uint16_t More = 0x01;
constexpr std::uint16_t Error = 0x02;
constexpr std::uint16_t Count = 0x10;
constexpr std::uint16_t Attention = 0x20;
}  // namespace done

struct Collation {
    std::uint8_t bytes[5];
};
constexpr Collation kCyrillicGeneralCiAs{{0x19, 0x04, 0xd0, 0x00, 0x00}};

struct ServerIdentity {
    std::string name = "QTL devserver";
    std::uint8_t programVersion[4] = {16, 0, 0x03, 0xe8};
    Collation collation = kCyrillicGeneralCiAs;
};

// Builds one reply's token stream. Tracks DONE tokens so that finish() sets the "more" bit on
// every DONE but the last, and token starts so that a cancelled reply can be cut cleanly.
class ReplyBuilder {
public:
    explicit ReplyBuilder(std::uint32_t tdsVersion = 0x74000004, ServerIdentity identity = ServerIdentity());

    void envChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
    void envCollation(const Collation& collation);
    void envBeginTran(std::uint64_t descriptor);
    void envEndTran(std::uint8_t type, std::uint64_t descriptor);  // 9 commit, 10 rollback
    void loginAck();
    void message(const devserver::Message& message, bool isError);
    void colMetadata(const std::vector<Column>& columns);
    void row(const std::vector<Column>& columns, const std::vector<Value>& values);
    // token: 0xFD DONE, 0xFE DONEPROC, 0xFF DONEINPROC. The "more" bit is managed by finish().
    void done(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t count);
    // RETURNVALUE of an OUTPUT int parameter (ordinal counts from 0) and RETURNSTATUS.
    void returnInt(std::uint16_t ordinal, const std::string& name, std::int32_t value);
    void returnStatus(std::int32_t value);

    // Fixes the "more" bits and returns the stream; token starts are kept for tokenStarts().
    Bytes finish();
    const std::vector<std::size_t>& tokenStarts() const { return starts_; }
    bool empty() const { return out_.empty(); }

private:
    void begin();
    bool wide() const;  // 7.2+: 8-byte DONE counts, 4-byte line numbers and user types
    std::uint32_t version_;
    ServerIdentity identity_;
    Bytes out_;
    std::vector<std::size_t> starts_;
    std::vector<std::size_t> doneStatus_;
};

constexpr std::uint8_t kDone = token::Done;
constexpr std::uint8_t kDoneProc = token::DoneProc;
constexpr std::uint8_t kDoneInProc = token::DoneInProc;

// Writes a batch's outcome: per statement its ENVCHANGE for transactions, its messages, its
// result sets and the closing DONE/DONEPROC (see engine.h). `tranDescriptor` is the session's
// current transaction descriptor, updated on BEGIN/COMMIT/ROLLBACK. `insideRpc`: the batch
// runs as the body of an RPC, so its DONE and DONEPROC tokens become DONEINPROC (the RPC's own
// DONEPROC follows).
void writeBatchOutcome(ReplyBuilder& reply, const BatchOutcome& outcome, std::uint64_t& tranDescriptor,
                       std::uint64_t& nextDescriptor, bool insideRpc = false);

// An error reply: ERROR + DONE with the error bit.
Bytes buildErrorReply(std::uint32_t tdsVersion, const ServerIdentity& identity, std::int32_t number,
                      std::uint8_t severity, const std::string& text);

// The ATTENTION acknowledgement: DONE with 0x20.
Bytes buildAttentionAck(std::uint32_t tdsVersion);

}  // namespace devserver::tds
