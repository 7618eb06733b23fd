#include "DevCertificates.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

constexpr long kDay = 24 * 60 * 60;
constexpr long kCaLifetime = 3650 * kDay;
constexpr long kServerLifetime = 397 * kDay;
constexpr long kRenewBefore = 7 * kDay;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data, bool bPrivate, QString* error)
{
    QSaveFile file(path);
    // The permissions are set before the content is written, so the key is never readable by others.
    if (!file.open(QIODevice::WriteOnly) ||
        (bPrivate && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) ||
        file.write(data) != data.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

CertPtr loadCertificate(const QByteArray& pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), pem.size()), &BIO_free);
    return CertPtr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
}

KeyPtr loadKey(const QByteArray& pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), pem.size()), &BIO_free);
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
}

QByteArray toPem(X509* certificate)
{
    BioPtr bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<int>(size));
}

QByteArray toPem(EVP_PKEY* key)
{
    BioPtr bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<int>(size));
}

bool addExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool bAdded = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return bAdded;
}

// Signs a new certificate for `key`. With no issuer given the certificate signs itself (the authority).
CertPtr makeCertificate(EVP_PKEY* key, const char* commonName, long lifetime, X509* issuer, EVP_PKEY* issuerKey)
{
    CertPtr certificate(X509_new(), &X509_free);
    if (!certificate)
        return certificate;
    X509* cert = certificate.get();
    unsigned char serial[16];
    RAND_bytes(serial, sizeof(serial));
    serial[0] &= 0x7F; // positive
    std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof(serial), nullptr), &BN_free);
    X509_NAME* name = X509_get_subject_name(cert);
    const bool bSelfSigned = issuer == nullptr;
    bool ok = X509_set_version(cert, 2) == 1 && number &&
              BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert)) &&
              X509_gmtime_adj(X509_getm_notBefore(cert), -kDay) &&
              X509_gmtime_adj(X509_getm_notAfter(cert), lifetime) && X509_set_pubkey(cert, key) == 1 &&
              X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>("Orvel development"), -1, -1, 0) &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                                         -1, -1, 0) &&
              X509_set_issuer_name(cert, bSelfSigned ? name : X509_get_subject_name(issuer)) == 1;
    X509* signer = bSelfSigned ? cert : issuer;
    ok = ok && addExtension(cert, signer, NID_subject_key_identifier, "hash") &&
         addExtension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (bSelfSigned) {
        ok = ok && addExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
             addExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && addExtension(cert, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             addExtension(cert, signer, NID_key_usage, "critical,digitalSignature") &&
             addExtension(cert, signer, NID_ext_key_usage, "serverAuth") &&
             addExtension(cert, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    }
    ok = ok && X509_sign(cert, bSelfSigned ? key : issuerKey, EVP_sha256()) > 0;
    if (!ok)
        certificate.reset();
    return certificate;
}

KeyPtr newKey()
{
    return KeyPtr(EVP_EC_gen("P-256"), &EVP_PKEY_free);
}

bool isUsableServerCertificate(X509* certificate, EVP_PKEY* caKey)
{
    if (!certificate || X509_verify(certificate, caKey) != 1)
        return false;
    time_t renewAt = time(nullptr) + kRenewBefore;
    return X509_cmp_time(X509_get0_notAfter(certificate), &renewAt) > 0;
}
} // namespace

DevCertificates::DevCertificates(const QString& stateFolder, const QString& authorityName)
    : m_folder(stateFolder), m_authorityName(authorityName)
{}

QString DevCertificates::caCertificatePath() const
{
    return QDir(m_folder).absoluteFilePath(QStringLiteral("ca.pem"));
}

QString DevCertificates::serverCertificatePath() const
{
    return QDir(m_folder).absoluteFilePath(QStringLiteral("server.pem"));
}

QString DevCertificates::serverKeyPath() const
{
    return QDir(m_folder).absoluteFilePath(QStringLiteral("server-key.pem"));
}

bool DevCertificates::ensure(QString* error)
{
    const QString caKeyPath = QDir(m_folder).absoluteFilePath(QStringLiteral("ca-key.pem"));
    KeyPtr caKey = loadKey(readFile(caKeyPath));
    CertPtr ca = loadCertificate(readFile(caCertificatePath()));
    if (!caKey || !ca || X509_check_private_key(ca.get(), caKey.get()) != 1) {
        caKey = newKey();
        ca = caKey ? makeCertificate(caKey.get(), m_authorityName.toUtf8().constData(), kCaLifetime, nullptr, nullptr)
                   : CertPtr(nullptr, &X509_free);
        if (!ca) {
            *error = QStringLiteral("cannot create the certificate authority");
            return false;
        }
        if (!writeFile(caKeyPath, toPem(caKey.get()), true, error) ||
            !writeFile(caCertificatePath(), toPem(ca.get()), false, error))
            return false;
    }

    CertPtr server = loadCertificate(readFile(serverCertificatePath()));
    KeyPtr serverKey = loadKey(readFile(serverKeyPath()));
    if (serverKey && server && X509_check_private_key(server.get(), serverKey.get()) == 1 &&
        isUsableServerCertificate(server.get(), caKey.get()))
        return true;

    serverKey = newKey();
    server = serverKey ? makeCertificate(serverKey.get(), "127.0.0.1", kServerLifetime, ca.get(), caKey.get())
                       : CertPtr(nullptr, &X509_free);
    if (!server) {
        *error = QStringLiteral("cannot create the server certificate");
        return false;
    }
    return writeFile(serverKeyPath(), toPem(serverKey.get()), true, error) &&
           writeFile(serverCertificatePath(), toPem(server.get()) + toPem(ca.get()), false, error);
}
