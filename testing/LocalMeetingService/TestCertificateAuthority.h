#pragma once

#include <string>
#include <vector>

namespace kr::test {

/// A throw-away certificate authority and one server certificate signed by it, made in memory
/// with OpenSSL when constructed (P-256 keys, valid from an hour ago for two days). The CA
/// certificate is also written to a temporary PEM file (removed on destruction) so that an HTTPS
/// client can trust it through a CA-file setting.
///
/// Threading: immutable after construction; the accessors may be used from any thread.
class TestCertificateAuthority {
public:
    /// `dnsNames` go into the server certificate's subject alternative names (wildcards such as
    /// "*.example.test" allowed); 127.0.0.1 is always added as an IP name. Throws
    /// std::runtime_error when OpenSSL fails (test infrastructure only).
    explicit TestCertificateAuthority(std::vector<std::string> dnsNames);
    ~TestCertificateAuthority();
    TestCertificateAuthority(const TestCertificateAuthority&) = delete;
    TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

    const std::string& caCertificatePem() const { return caCertPem_; }
    const std::string& serverCertificatePem() const { return serverCertPem_; }
    const std::string& serverPrivateKeyPem() const { return serverKeyPem_; }
    /// Path of the temporary file holding `caCertificatePem()`.
    const std::string& caFile() const { return caFile_; }

private:
    std::string caCertPem_;
    std::string serverCertPem_;
    std::string serverKeyPem_;
    std::string caFile_;
};

}  // namespace kr::test
