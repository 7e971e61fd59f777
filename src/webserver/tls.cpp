#include "webserver/tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tsr {
namespace {

// OpenSSL's last error as text, the queue emptied.
std::string OpenSslError() {
    std::string text;
    for (unsigned long e; (e = ERR_get_error()) != 0;) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty()) text += "; ";
        text += buf;
    }
    return text.empty() ? "unknown OpenSSL error" : text;
}

std::string HexFingerprint(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), md, &n) != 1) return {};
    std::string out;
    char hex[4];
    for (unsigned int i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", md[i]);
        out += hex;
    }
    return out;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Writes `pem` into a new file `path` with mode 0600 (never replacing one).
bool WritePrivate(const std::string& path, const std::string& pem) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < pem.size();) {
        const ssize_t n = write(fd, pem.data() + done, pem.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok) unlink(path.c_str());
    return ok;
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TlsContext::~TlsContext() {
    if (ctx_) SSL_CTX_free(ctx_);
}

std::unique_ptr<TlsContext> TlsContext::FromFiles(const std::string& certFile,
                                                  const std::string& keyFile, std::string* error) {
    std::unique_ptr<TlsContext> tls(new TlsContext);
    tls->ctx_ = SSL_CTX_new(TLS_server_method());
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + OpenSslError();
        return nullptr;
    };
    if (!tls->ctx_) return fail("cannot make the TLS context");
    // TLS 1.2 and 1.3 only; older versions have known weaknesses.
    SSL_CTX_set_min_proto_version(tls->ctx_, TLS1_2_VERSION);
    SSL_CTX_set_options(tls->ctx_, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Resumption: stateless tickets (TLS 1.2 and 1.3) and the server's session cache.
    SSL_CTX_set_session_cache_mode(tls->ctx_, SSL_SESS_CACHE_SERVER);
    SSL_CTX_set_session_id_context(tls->ctx_, reinterpret_cast<const unsigned char*>("tessora"), 7);
    SSL_CTX_set_timeout(tls->ctx_, 3600);
    SSL_CTX_set_mode(tls->ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                    SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(tls->ctx_, certFile.c_str()) != 1)
        return fail("cannot read the certificate " + certFile);
    if (SSL_CTX_use_PrivateKey_file(tls->ctx_, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        return fail("cannot read the private key " + keyFile);
    if (SSL_CTX_check_private_key(tls->ctx_) != 1)
        return fail("the key " + keyFile + " is not that of the certificate " + certFile);
    tls->fingerprint_ = HexFingerprint(SSL_CTX_get0_certificate(tls->ctx_));
    return tls;
}

SSL* TlsContext::NewSession(int fd) const {
    SSL* ssl = SSL_new(ctx_);
    if (!ssl) return nullptr;
    if (SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        return nullptr;
    }
    SSL_set_accept_state(ssl);
    return ssl;
}

std::vector<std::string> MachineNames() {
    std::vector<std::string> names = {"localhost", "127.0.0.1", "::1"};
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0]) names.emplace_back(host);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr) continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (a->ifa_addr->sa_family == AF_INET) {
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
            } else if (a->ifa_addr->sa_family == AF_INET6) {
                const auto* v6 = reinterpret_cast<sockaddr_in6*>(a->ifa_addr);
                if (IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) continue;  // needs a zone: not for URLs
                inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            } else {
                continue;
            }
            if (std::find(names.begin(), names.end(), text) == names.end()) names.emplace_back(text);
        }
        freeifaddrs(list);
    }
    return names;
}

std::string EnsureSelfSignedCertificate(const std::string& certFile, const std::string& keyFile,
                                        const std::vector<std::string>& names) {
    if (Exists(certFile) && Exists(keyFile)) return {};
    if (Exists(certFile) != Exists(keyFile))
        return "only one of " + certFile + " and " + keyFile + " exists; remove it to make both again";
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) return "cannot make a key: " + OpenSslError();
    X509* cert = X509_new();
    std::string error;
    auto done = [&](const std::string& why) {
        X509_free(cert);
        EVP_PKEY_free(key);
        return why;
    };
    if (!cert) return done("cannot make a certificate: " + OpenSslError());
    X509_set_version(cert, 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return done("no random numbers: " + OpenSslError());
    serial[0] &= 0x7F;  // a positive serial number
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* subject = X509_get_subject_name(cert);
    const std::string cn = names.size() > 3 ? names[3] : "localhost";
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Tessora panel server"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, subject);
    std::string san;
    for (const std::string& n : names) {
        in6_addr any;
        const bool ip = inet_pton(AF_INET, n.c_str(), &any) == 1 || inet_pton(AF_INET6, n.c_str(), &any) == 1;
        if (!san.empty()) san += ",";
        san += (ip ? "IP:" : "DNS:") + n;
    }
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair<int, std::string>{NID_subject_alt_name, san},
                                     {NID_basic_constraints, "critical,CA:FALSE"},
                                     {NID_key_usage, "critical,digitalSignature"},
                                     {NID_ext_key_usage, "serverAuth"}}) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value.c_str());
        if (!ext) return done("cannot describe the certificate: " + OpenSslError());
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
    if (X509_sign(cert, key, EVP_sha256()) == 0) return done("cannot sign the certificate: " + OpenSslError());
    BIO* keyPem = BIO_new(BIO_s_mem());
    BIO* certPem = BIO_new(BIO_s_mem());
    const bool written = PEM_write_bio_PrivateKey(keyPem, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
                         PEM_write_bio_X509(certPem, cert) == 1;
    const std::string keyText = BioText(keyPem), certText = BioText(certPem);
    BIO_free(keyPem);
    BIO_free(certPem);
    if (!written) return done("cannot write the certificate: " + OpenSslError());
    if (!WritePrivate(keyFile, keyText)) return done(keyFile + ": " + std::strerror(errno));
    if (!WritePrivate(certFile, certText)) {
        const int why = errno;
        unlink(keyFile.c_str());
        return done(certFile + ": " + std::strerror(why));
    }
    return done({});
}

}  // namespace tsr
