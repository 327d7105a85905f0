#include "testing/LocalMeetingService/TestCertificateAuthority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace kr::test {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CertFree {
    void operator()(X509* p) const { X509_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificate authority: ") + what);
    }
}

KeyPtr makeKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    check(ext != nullptr, "extension");
    const int added = X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    check(added == 1, "adding extension");
}

CertPtr makeCertificate(EVP_PKEY* subjectKey, const char* commonName, long serial) {
    CertPtr cert(X509_new());
    check(cert != nullptr, "certificate");
    X509_set_version(cert.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 2L * 24 * 3600);
    X509_set_pubkey(cert.get(), subjectKey);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("KivRane Test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    return cert;
}

/// The PEM text `write` puts into a memory BIO (`write` returns OpenSSL's 1 on success).
template <class Write>
std::string pemText(Write write, const char* what) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    check(bio && write(bio.get()) == 1, what);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string toPem(X509* cert) {
    return pemText([cert](BIO* bio) { return PEM_write_bio_X509(bio, cert); },
                   "writing certificate");
}

std::string toPem(EVP_PKEY* key) {
    return pemText(
        [key](BIO* bio) {
            return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
        },
        "writing key");
}

}  // namespace

TestCertificateAuthority::TestCertificateAuthority(std::vector<std::string> dnsNames) {
    const KeyPtr caKey = makeKey();
    const CertPtr ca = makeCertificate(caKey.get(), "KivRane Test CA", 1);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    check(X509_sign(ca.get(), caKey.get(), EVP_sha256()) > 0, "signing CA");

    const KeyPtr serverKey = makeKey();
    const CertPtr server = makeCertificate(serverKey.get(), "KivRane Test Server", 2);
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    std::string altNames = "IP:127.0.0.1";
    for (const auto& name : dnsNames) {
        altNames += ",DNS:" + name;
    }
    addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    addExtension(server.get(), ca.get(), NID_subject_key_identifier, "hash");
    addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    addExtension(server.get(), ca.get(), NID_subject_alt_name, altNames);
    check(X509_sign(server.get(), caKey.get(), EVP_sha256()) > 0, "signing server certificate");

    caCertPem_ = toPem(ca.get());
    serverCertPem_ = toPem(server.get());
    serverKeyPem_ = toPem(serverKey.get());

    char path[] = "/tmp/kr-test-ca-XXXXXX";
    const int fd = mkstemp(path);
    check(fd >= 0, "temporary CA file");
    const auto written = ::write(fd, caCertPem_.data(), caCertPem_.size());
    ::close(fd);
    if (written != static_cast<ssize_t>(caCertPem_.size())) {
        std::remove(path);  // the destructor does not run when the constructor throws
        check(false, "writing CA file");
    }
    caFile_ = path;
}

TestCertificateAuthority::~TestCertificateAuthority() {
    if (!caFile_.empty()) {
        std::remove(caFile_.c_str());
    }
}

}  // namespace kr::test
