// Client requests as the server reads them: framing, then PRELOGIN, LOGIN7, SQL batch and RPC
// parsing, and what the server makes of an RPC. The first byte picks the path so the parsers are
// also reached without framing.
#include "tds/codec.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace devserver::tds;

namespace {

void parseAll(const Bytes& payload, std::uint8_t type, std::uint32_t& version) {
    std::string error, text;
    switch (type) {
    case packet::PreLogin: {
        PreLoginRequest pre;
        parsePreLogin(payload, pre, error);
        break;
    }
    case packet::Login7: {
        Login7Request login;
        if (parseLogin7(payload, login, error)) {
            version = login.tdsVersion;
            // What the server derives from a login must stay in range.
            if (negotiatedPacketSize(login.packetSize) < 512 || negotiatedPacketSize(login.packetSize) > 32767)
                std::abort();
        }
        break;
    }
    case packet::SqlBatch:
        if (parseSqlBatch(payload, hasAllHeaders(version), text, error)) {
            // The text goes back out in replies and logs: it must survive a round trip.
            Bytes again;
            appendUtf16le(again, utf8ToUtf16(text));
            if (utf16leToUtf8(again.data(), again.size()) != text) std::abort();
        }
        break;
    case packet::Rpc: {
        parseRpcName(payload, hasAllHeaders(version), text, error);
        RpcRequest request;
        if (parseRpcRequest(payload, hasAllHeaders(version), request, error)) {
            for (const RpcParam& p : request.params)
                if (p.isUnicodeText && p.isNull) std::abort();
        }
        const RpcAction action = planRpc(payload, hasAllHeaders(version));
        // A refusal always says why; only a call read to its end is run.
        if (action.kind == RpcAction::Kind::Refuse && action.errorText.empty()) std::abort();
        if (action.kind != RpcAction::Kind::Refuse && !request.unreadRest.empty()) std::abort();
        if (action.kind == RpcAction::Kind::Run) {
            // The statement goes to the engine and the log as UTF-8 that round-trips.
            Bytes again;
            appendUtf16le(again, utf8ToUtf16(action.statement));
            if (utf16leToUtf8(again.data(), again.size()) != action.statement) std::abort();
            ReplyBuilder reply(version);
            reply.returnInt(0, action.handleName, 1);
            reply.returnStatus(0);
            reply.done(kDoneProc, 0, 0, 0);
            if (reply.finish().empty()) std::abort();
        }
        break;
    }
    default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    std::uint32_t version = 0x74000004;
    if (mode < 0x80) {
        // A byte stream from a client, cut into messages.
        std::vector<ClientMessage> messages;
        std::string error;
        splitMessages(data, size, messages, error);
        for (const ClientMessage& m : messages) parseAll(m.payload, m.type, version);
        return 0;
    }
    const Bytes payload(data, data + size);
    switch (mode & 0x07) {
    case 0: parseAll(payload, packet::PreLogin, version); break;
    case 1: parseAll(payload, packet::Login7, version); break;
    case 2: parseAll(payload, packet::SqlBatch, version); break;
    case 3:
        version = 0x71000001;
        parseAll(payload, packet::SqlBatch, version);
        break;
    case 4: parseAll(payload, packet::Rpc, version); break;
    default: {
        // Header parsing on raw bytes.
        PacketHeader h;
        std::string error;
        parseHeader(data, size, h, error);
        break;
    }
    }
    return 0;
}
