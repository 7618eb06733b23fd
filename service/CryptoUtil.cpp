#include "CryptoUtil.h"

#include <iostream>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/hmac.h>
#include <cryptopp/modes.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

namespace Verdant {

namespace {
constexpr size_t kBlockSize = 16;
constexpr size_t kTagSize = 32;
constexpr size_t kHeaderSize = 2 * kBlockSize;

std::string hmacSha256(const std::string& macKey, const std::string& data)
{
    std::string tag;
    CryptoPP::HMAC<CryptoPP::SHA256> hmac(reinterpret_cast<const CryptoPP::byte*>(macKey.data()), macKey.size());
    CryptoPP::StringSource source(data, true, new CryptoPP::HashFilter(hmac, new CryptoPP::StringSink(tag)));
    return tag;
}

std::string toStdString(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray toByteArray(const std::string& bytes)
{
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}
} // namespace

CryptoUtil::~CryptoUtil() = default;

void CryptoUtil::randomBytes16(unsigned char* out)
{
    CryptoPP::AutoSeededRandomPool pool;
    pool.GenerateBlock(out, kBlockSize);
}

std::string CryptoUtil::encrypt(const std::string& plain, const std::string& keyText)
{
    if (plain.empty())
        return {};
    try {
        if (keyText.size() < CryptoPP::AES::DEFAULT_KEYLENGTH)
            throw CryptoPP::InvalidKeyLength("AES", keyText.size());
        const auto* key = reinterpret_cast<const CryptoPP::byte*>(keyText.data());

        unsigned char iv[kBlockSize];
        unsigned char macKey[kBlockSize];
        randomBytes16(iv);
        randomBytes16(macKey);

        std::string cipherText;
        // The IV is the cipher's block size. No fourth argument: that one is a feedback size, which CBC does not
        // use, and Crypto++ then throws from a destructor, ending the process.
        CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption encryption(key, CryptoPP::AES::DEFAULT_KEYLENGTH, iv);
        CryptoPP::StringSource source(
            plain, true,
            new CryptoPP::StreamTransformationFilter(encryption, new CryptoPP::StringSink(cipherText),
                                                     CryptoPP::StreamTransformationFilter::PKCS_PADDING));

        const std::string macKeyText(reinterpret_cast<const char*>(macKey), kBlockSize);
        std::string blob(reinterpret_cast<const char*>(iv), kBlockSize);
        blob += macKeyText;
        blob += cipherText;
        blob += hmacSha256(macKeyText, cipherText);
        return blob;
    } catch (const CryptoPP::Exception& e) {
        std::cerr << e.what() << std::endl;
        return {};
    }
}

std::string CryptoUtil::decrypt(const std::string& blob, const std::string& keyText)
{
    if (blob.size() < kHeaderSize + kBlockSize)
        return {};
    try {
        const std::string iv = blob.substr(0, kBlockSize);
        const std::string macKey = blob.substr(kBlockSize, kBlockSize);
        // A blob of 48 to 63 bytes has no room for a tag: its "ciphertext" runs to the end and the tag is
        // taken from the last 32 bytes, so the comparison below fails on length or content.
        const size_t tagStart = blob.size() >= kHeaderSize + kTagSize ? blob.size() - kTagSize : blob.size();
        const std::string cipherText = blob.substr(kHeaderSize, tagStart - kHeaderSize);
        const std::string storedTag = blob.substr(blob.size() - kTagSize);

        if (hmacSha256(macKey, cipherText) != storedTag)
            return {};

        if (keyText.size() < CryptoPP::AES::DEFAULT_KEYLENGTH)
            throw CryptoPP::InvalidKeyLength("AES", keyText.size());
        std::string plain;
        CryptoPP::CBC_Mode<CryptoPP::AES>::Decryption decryption(
            reinterpret_cast<const CryptoPP::byte*>(keyText.data()), CryptoPP::AES::DEFAULT_KEYLENGTH,
            reinterpret_cast<const CryptoPP::byte*>(iv.data()));
        CryptoPP::StringSource source(
            cipherText, true,
            new CryptoPP::StreamTransformationFilter(decryption, new CryptoPP::StringSink(plain),
                                                     CryptoPP::StreamTransformationFilter::PKCS_PADDING));
        return plain;
    } catch (const CryptoPP::Exception& e) {
        std::cerr << e.what() << std::endl;
        return {};
    }
}

QByteArray CryptoUtil::encrypt(const QByteArray& plain, const std::string& keyText)
{
    return toByteArray(encrypt(toStdString(plain), keyText));
}

QByteArray CryptoUtil::decrypt(const QByteArray& blob, const std::string& keyText)
{
    return toByteArray(decrypt(toStdString(blob), keyText));
}

} // namespace Verdant
