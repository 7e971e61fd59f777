// HTTPS for the web server: one OpenSSL context (certificate, key, TLS 1.2 and 1.3 only, session
// tickets so that phones, which open a connection per request, resume instead of paying a full
// handshake each time), and the server's own self-signed certificate for a plant without one.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

namespace tsr {

class TlsContext {
public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // The context of the PEM certificate chain `certFile` and its PEM private key `keyFile`;
    // null with `error` saying why (a file missing, not PEM, the key not that of the
    // certificate).
    static std::unique_ptr<TlsContext> FromFiles(const std::string& certFile,
                                                 const std::string& keyFile, std::string* error);

    // A new server session on the connected socket `fd`; null when OpenSSL cannot make one.
    SSL* NewSession(int fd) const;
    // The SHA-256 fingerprint of the certificate, "AB:CD:…".
    const std::string& fingerprint() const { return fingerprint_; }

private:
    TlsContext() = default;
    SSL_CTX* ctx_ = nullptr;
    std::string fingerprint_;
};

// The names and addresses a self-signed certificate of this machine is made for: its host name,
// "localhost", 127.0.0.1, ::1 and the address of every interface.
std::vector<std::string> MachineNames();

// Makes `certFile` and `keyFile` (mode 0600) when either is missing: an EC P-256 key and a
// certificate signed by it, valid for ten years, whose subject alternative names are `names`
// (IP addresses and DNS names). Keeps existing files. An empty string on success, else why.
std::string EnsureSelfSignedCertificate(const std::string& certFile, const std::string& keyFile,
                                        const std::vector<std::string>& names);

}  // namespace tsr
