#include "self_signed.hpp"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace qmrt::tls {
namespace {

struct BioDeleter {
    void operator()(BIO *bio) const noexcept { BIO_free(bio); }
};
struct ExtensionDeleter {
    void operator()(X509_EXTENSION *ext) const noexcept { X509_EXTENSION_free(ext); }
};
struct BignumDeleter {
    void operator()(BIGNUM *bn) const noexcept { BN_free(bn); }
};

// Throws with the failed step and OpenSSL's own reason, clearing its error queue so a
// later, unrelated failure does not report this one.
[[noreturn]] void fail(const char *step) {
    std::string message = std::string("self-signed certificate: ") + step + " failed";
    if (unsigned long code = ERR_get_error(); code != 0) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof reason);
        message += std::string(": ") + reason;
    }
    ERR_clear_error();
    throw std::runtime_error(message);
}

void check(int ok, const char *step) {
    if (ok != 1) fail(step);
}

void add_extension(X509 &cert, int nid, const char *value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, &cert, &cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtensionDeleter> ext(
        X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (!ext) fail("X509V3_EXT_conf_nid");
    check(X509_add_ext(&cert, ext.get(), -1), "X509_add_ext");
}

std::string drain(BIO &bio) {
    char *data = nullptr;
    long size = BIO_get_mem_data(&bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

Credentials make_self_signed(int days) {
    Credentials made;
    made.key.reset(EVP_EC_gen("P-256"));
    if (!made.key) fail("EVP_EC_gen");

    made.cert.reset(X509_new());
    X509 *cert = made.cert.get();
    if (cert == nullptr) fail("X509_new");
    check(X509_set_version(cert, X509_VERSION_3), "X509_set_version");

    // A random serial: clients that cached an earlier certificate with the same issuer and
    // serial would otherwise refuse the new one.
    std::unique_ptr<BIGNUM, BignumDeleter> serial(BN_new());
    if (!serial) fail("BN_new");
    check(BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), "BN_rand");
    if (BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert)) == nullptr)
        fail("BN_to_ASN1_INTEGER");

    if (X509_gmtime_adj(X509_getm_notBefore(cert), -60L * 60) == nullptr) fail("notBefore");
    if (X509_gmtime_adj(X509_getm_notAfter(cert), 60L * 60 * 24 * days) == nullptr)
        fail("notAfter");

    X509_NAME *name = X509_get_subject_name(cert);
    check(
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("localhost"), -1, -1, 0),
        "X509_NAME_add_entry_by_txt");
    check(X509_set_issuer_name(cert, name), "X509_set_issuer_name");
    check(X509_set_pubkey(cert, made.key.get()), "X509_set_pubkey");

    add_extension(*cert, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    add_extension(*cert, NID_ext_key_usage, "serverAuth");

    if (X509_sign(cert, made.key.get(), EVP_sha256()) <= 0) fail("X509_sign");
    return made;
}

std::string certificate_pem(X509 &cert) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    if (!bio) fail("BIO_new");
    check(PEM_write_bio_X509(bio.get(), &cert), "PEM_write_bio_X509");
    return drain(*bio);
}

std::string private_key_pem(EVP_PKEY &key) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    if (!bio) fail("BIO_new");
    check(PEM_write_bio_PrivateKey(bio.get(), &key, nullptr, nullptr, 0, nullptr, nullptr),
          "PEM_write_bio_PrivateKey");
    return drain(*bio);
}

}  // namespace qmrt::tls
