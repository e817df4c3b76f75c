// TLS for the login: OpenSSL over memory buffers, so the TDS layer decides where the bytes travel
// (inside PRELOGIN packets during the handshake, bare on the socket for the login packet).
// Nothing here touches a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

namespace devserver::tds {

// The server's certificate and key, shared read-only by every connection.
class TlsContext {
public:
    // A fresh self-signed certificate for CN=localhost (EC P-256), made in memory: nothing to
    // install or keep on disk, and clients that ask for encryption without checking the
    // certificate (FreeTDS "request", the ODBC drivers' TrustServerCertificate) accept it.
    static std::shared_ptr<TlsContext> generate();
    // A PEM certificate (chain) and its PEM private key; throws std::runtime_error with the
    // reason when they cannot be read or do not belong together.
    static std::shared_ptr<TlsContext> fromFiles(const std::string& certFile, const std::string& keyFile);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* handle() const { return ctx_; }

private:
    TlsContext();
    ssl_ctx_st* ctx_ = nullptr;
};

// One server side of a TLS connection. Ciphertext from the client goes in through feed(), the
// ciphertext the server must send comes out of takeOutput().
class TlsSession {
public:
    explicit TlsSession(const TlsContext& context);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    void feed(const std::uint8_t* data, std::size_t size);

    enum class Step { NeedMore, Done, Failed };
    // Advances the handshake with what was fed; on Failed `error` says why (an alert for the
    // client may still be waiting in takeOutput()).
    Step handshake(std::string& error);

    // Appends the application data decrypted so far; false with a reason when the stream is
    // broken or the client closed it.
    bool readPlain(std::vector<std::uint8_t>& out, std::string& error);

    // Encrypts application data; the records wait in takeOutput(). False when the session is broken.
    bool write(const std::uint8_t* data, std::size_t size);

    std::vector<std::uint8_t> takeOutput();

    // True when part of a record was fed and the rest is still awaited.
    bool holdsPartialRecord() const;

private:
    ssl_st* ssl_ = nullptr;
    bio_st* in_ = nullptr;  // owned by ssl_
    bio_st* out_ = nullptr;  // owned by ssl_
};

// The size of a TLS record whose 5-byte header is `header`, header included; 0 when it cannot
// be a record (an unknown content type, a version that is not 3.x, or a length beyond what
// TLS allows).
std::size_t tlsRecordSize(const std::uint8_t* header);
constexpr std::size_t kTlsRecordHeaderSize = 5;

}  // namespace devserver::tds
