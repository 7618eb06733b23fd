#include "TestCertificateAuthority.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace OrvelTest {

namespace {

template <auto release> struct Release
{
    template <typename T> void operator()(T* object) const { release(object); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Release<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Release<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Release<BIO_free>>;

QByteArray bioText(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(size));
}

QByteArray certificatePem(X509* cert)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    return bioText(bio.get());
}

QByteArray keyPem(EVP_PKEY* key)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    return bioText(bio.get());
}

bool addExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

long nextSerial()
{
    static std::atomic<long> serial{1000};
    return ++serial;
}

CertPtr makeCertificate(EVP_PKEY* subjectKey, const char* commonName)
{
    CertPtr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), nextSerial());
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), subjectKey);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                               0);
    return cert;
}

} // namespace

struct TestCertificateAuthority::Private
{
    KeyPtr key;
    CertPtr cert;
    QTemporaryDir dir;
    QString caPath;
    bool trusted = false;
};

TestCertificateAuthority::TestCertificateAuthority(const QString& commonName) : d(new Private)
{
    d->key.reset(EVP_EC_gen("P-256"));
    if (!d->key)
        return;
    const QByteArray cn = commonName.toUtf8();
    CertPtr cert = makeCertificate(d->key.get(), cn.constData());
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    if (!addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") ||
        !addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash") ||
        X509_sign(cert.get(), d->key.get(), EVP_sha256()) == 0)
        return;
    d->cert = std::move(cert);

    d->caPath = d->dir.filePath(QStringLiteral("ca.pem"));
    QFile file(d->caPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(caCertificatePem()) < 0)
        d->cert.reset();
}

TestCertificateAuthority::~TestCertificateAuthority() = default;

bool TestCertificateAuthority::isValid() const
{
    return d->cert != nullptr;
}

QByteArray TestCertificateAuthority::caCertificatePem() const
{
    return d->cert ? certificatePem(d->cert.get()) : QByteArray();
}

QString TestCertificateAuthority::caCertificatePath() const
{
    return d->cert ? d->caPath : QString();
}

bool TestCertificateAuthority::issueServerCertificate(QByteArray* certificatePem_, QByteArray* privateKeyPem) const
{
    if (!d->cert)
        return false;
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        return false;
    CertPtr cert = makeCertificate(key.get(), "127.0.0.1");
    X509_set_issuer_name(cert.get(), X509_get_subject_name(d->cert.get()));
    if (!addExtension(cert.get(), d->cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), d->cert.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment") ||
        !addExtension(cert.get(), d->cert.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(cert.get(), d->cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !addExtension(cert.get(), d->cert.get(), NID_authority_key_identifier, "keyid:always") ||
        X509_sign(cert.get(), d->key.get(), EVP_sha256()) == 0)
        return false;
    *certificatePem_ = certificatePem(cert.get());
    *privateKeyPem = keyPem(key.get());
    return true;
}

void TestCertificateAuthority::trustInDefaultConfiguration()
{
    if (d->trusted || !d->cert)
        return;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(QSslCertificate::fromData(caCertificatePem(), QSsl::Pem));
    QSslConfiguration::setDefaultConfiguration(config);
    d->trusted = true;
}

TestCertificateAuthority& TestCertificateAuthority::trusted()
{
    static TestCertificateAuthority ca(QStringLiteral("Orvel Trusted Test CA"));
    ca.trustInDefaultConfiguration();
    return ca;
}

} // namespace OrvelTest
