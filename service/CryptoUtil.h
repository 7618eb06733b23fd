#pragma once

#include <string>

#include <QByteArray>

namespace Verdant {

// Seals and opens the stored sign-in token. Blob layout (shared with the design application):
// 16 bytes IV | 16 bytes MAC key | AES-128-CBC ciphertext (PKCS #7) | 32 bytes HMAC-SHA-256 over the ciphertext.
// Failures give an empty result; no exception leaves this class.
class CryptoUtil
{
public:
    CryptoUtil() = default;
    virtual ~CryptoUtil();

    std::string encrypt(const std::string& plain, const std::string& keyText);
    std::string decrypt(const std::string& blob, const std::string& keyText);
    QByteArray encrypt(const QByteArray& plain, const std::string& keyText);
    QByteArray decrypt(const QByteArray& blob, const std::string& keyText);

    void randomBytes16(unsigned char* out);
};

} // namespace Verdant
