#include "tls.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace devserver::tds {

namespace {

// The reasons OpenSSL queued for this thread, oldest first; empties the queue.
std::string openSslErrors(const char* fallback) {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty()) text += "; ";
        text += buf;
    }
    return text.empty() ? fallback : text;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + openSslErrors("unknown error"));
}

// The settings every context shares: TLS 1.2 only, as SQL Server offers inside PRELOGIN (TLS 1.3
// there belongs to the TDS 8 handshake that starts with TLS); no session tickets, because a
// ticket sent after the handshake would reach a client that has already left the PRELOGIN
// wrapping and is waiting for the clear-text login answer.
ssl_ctx_st* newServerContext() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) fail("cannot create a TLS context");
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    return ctx;
}

}  // namespace

TlsContext::TlsContext() : ctx_(newServerContext()) {}

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

std::shared_ptr<TlsContext> TlsContext::generate() {
    std::shared_ptr<TlsContext> context(new TlsContext());
    ERR_clear_error();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) fail("cannot generate the TLS key");
    X509* cert = X509_new();
    BIGNUM* serial = BN_new();
    const auto cleanup = [&] {
        BN_free(serial);
        X509_free(cert);
        EVP_PKEY_free(key);
    };
    bool ok = cert && serial && X509_set_version(cert, 2) == 1 &&
              BN_rand(serial, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
              BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert)) != nullptr &&
              // An hour back, so a client whose clock is a little behind still accepts it.
              X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600) != nullptr && X509_set_pubkey(cert, key) == 1;
    if (ok) {
        X509_NAME* name = X509_get_subject_name(cert);
        ok = X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"),
                                        -1, -1, 0) == 1 &&
             X509_set_issuer_name(cert, name) == 1;
    }
    if (ok) {
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
        X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
        ok = san && X509_add_ext(cert, san, -1) == 1;
        X509_EXTENSION_free(san);
    }
    ok = ok && X509_sign(cert, key, EVP_sha256()) > 0 && SSL_CTX_use_certificate(context->ctx_, cert) == 1 &&
         SSL_CTX_use_PrivateKey(context->ctx_, key) == 1;
    if (!ok) {
        const std::string why = openSslErrors("unknown error");
        cleanup();
        throw std::runtime_error("cannot make the TLS certificate: " + why);
    }
    cleanup();
    return context;
}

std::shared_ptr<TlsContext> TlsContext::fromFiles(const std::string& certFile, const std::string& keyFile) {
    std::shared_ptr<TlsContext> context(new TlsContext());
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(context->ctx_, certFile.c_str()) != 1)
        fail("cannot read the TLS certificate " + certFile);
    // Read apart from the context first, so that a key of another certificate is reported as
    // such rather than as an unreadable file.
    BIO* file = BIO_new_file(keyFile.c_str(), "r");
    if (!file) fail("cannot read the TLS key " + keyFile);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(file, nullptr, nullptr, nullptr);
    BIO_free(file);
    if (!key) fail("cannot read the TLS key " + keyFile);
    const bool matches = X509_check_private_key(SSL_CTX_get0_certificate(context->ctx_), key) == 1;
    const bool used = matches && SSL_CTX_use_PrivateKey(context->ctx_, key) == 1;
    EVP_PKEY_free(key);
    if (!matches) {
        ERR_clear_error();
        throw std::runtime_error("the TLS key " + keyFile + " does not belong to the certificate " + certFile);
    }
    if (!used) fail("cannot use the TLS key " + keyFile);
    return context;
}

TlsSession::TlsSession(const TlsContext& context) {
    ssl_ = SSL_new(context.handle());
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        SSL_free(ssl_);
        BIO_free(in_);
        BIO_free(out_);
        throw std::runtime_error("cannot start a TLS session: " + openSslErrors("out of memory"));
    }
    // An empty input buffer means "wait for more", not end of stream.
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
}

TlsSession::~TlsSession() {
    SSL_free(ssl_);
}

void TlsSession::feed(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const int chunk = size > 1u << 30 ? 1 << 30 : static_cast<int>(size);
        const int n = BIO_write(in_, data, chunk);
        if (n <= 0) return;  // a memory BIO only fails when out of memory; the handshake then fails
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

TlsSession::Step TlsSession::handshake(std::string& error) {
    ERR_clear_error();
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) return Step::Done;
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ) return Step::NeedMore;
    error = openSslErrors(e == SSL_ERROR_ZERO_RETURN ? "the client closed the TLS connection" : "TLS handshake failed");
    return Step::Failed;
}

bool TlsSession::readPlain(std::vector<std::uint8_t>& out, std::string& error) {
    std::uint8_t buf[16384];
    while (true) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, buf, sizeof buf);
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            continue;
        }
        const int e = SSL_get_error(ssl_, n);
        if (e == SSL_ERROR_WANT_READ) return true;
        error = e == SSL_ERROR_ZERO_RETURN ? std::string("the client closed the TLS connection")
                                           : openSslErrors("TLS record could not be read");
        return false;
    }
}

bool TlsSession::write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ERR_clear_error();
        const int chunk = size > 16384 ? 16384 : static_cast<int>(size);
        const int n = SSL_write(ssl_, data, chunk);
        // A memory BIO takes everything, so anything but progress is a broken session.
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> TlsSession::takeOutput() {
    std::vector<std::uint8_t> out;
    const std::size_t pending = BIO_ctrl_pending(out_);
    if (pending == 0) return out;
    out.resize(pending);
    const int n = BIO_read(out_, out.data(), static_cast<int>(pending));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

bool TlsSession::holdsPartialRecord() const {
    return SSL_has_pending(ssl_) == 1 || BIO_ctrl_pending(in_) > 0;
}

std::size_t tlsRecordSize(const std::uint8_t* header) {
    const std::uint8_t type = header[0];
    if (type < 20 || type > 23 || header[1] != 3) return 0;
    const std::size_t length = (std::size_t(header[3]) << 8) | header[4];
    // TLS 1.2 ciphertext is at most 2^14 + 2048 bytes.
    if (length == 0 || length > 16384 + 2048) return 0;
    return kTlsRecordHeaderSize + length;
}

}  // namespace devserver::tds
