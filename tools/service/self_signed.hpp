// A key pair and a self-signed certificate made in memory, for HTTPS servers that run on
// this machine only: the reference service when no certificate is given, and the tests.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace qmrt::tls {

struct PkeyDeleter {
    void operator()(EVP_PKEY *key) const noexcept { EVP_PKEY_free(key); }
};
struct X509Deleter {
    void operator()(X509 *cert) const noexcept { X509_free(cert); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

struct Credentials {
    PkeyPtr key;
    X509Ptr cert;
};

// A fresh P-256 key and a certificate it signs itself, naming "localhost" and 127.0.0.1 so
// that a client that trusts the certificate also accepts the host name. Valid from an hour
// ago (clock skew) for `days` days. Throws std::runtime_error naming the step that failed.
Credentials make_self_signed(int days = 365);

// PEM texts, for writing the pair to files a server or a client loads.
std::string certificate_pem(X509 &cert);
std::string private_key_pem(EVP_PKEY &key);

}  // namespace qmrt::tls
