#include "Sha256Hasher.h"

#include <vector>

#include <QFile>

#include <cryptopp/sha.h>

namespace {
constexpr qint64 kReadChunk = 1024 * 1024;
constexpr int kHexDigits = 2 * CryptoPP::SHA256::DIGESTSIZE;

bool isHexDigest(const QString& text)
{
    static const QString digits = QStringLiteral("0123456789abcdefABCDEF");
    if (text.size() != kHexDigits)
        return false;
    for (const QChar c : text) {
        if (!digits.contains(c))
            return false;
    }
    return true;
}
} // namespace

struct Sha256Hasher::State
{
    CryptoPP::SHA256 hash;
};

Sha256Hasher::Sha256Hasher() : m_state(new State)
{}

Sha256Hasher::~Sha256Hasher() = default;
Sha256Hasher::Sha256Hasher(Sha256Hasher&& other) noexcept = default;
Sha256Hasher& Sha256Hasher::operator=(Sha256Hasher&& other) noexcept = default;

void Sha256Hasher::init()
{
    if (!m_state)
        m_state.reset(new State);
    m_state->hash.Restart();
}

void Sha256Hasher::update(const char* data, qint64 size)
{
    if (!m_state)
        init();
    if (size > 0)
        m_state->hash.Update(reinterpret_cast<const CryptoPP::byte*>(data), static_cast<size_t>(size));
}

QString Sha256Hasher::finalHex()
{
    if (!m_state)
        init();
    QByteArray digest(CryptoPP::SHA256::DIGESTSIZE, '\0');
    m_state->hash.Final(reinterpret_cast<CryptoPP::byte*>(digest.data()));
    return QString::fromLatin1(digest.toHex());
}

QString Sha256Hasher::hex(const QByteArray& data)
{
    Sha256Hasher hasher;
    hasher.update(data);
    return hasher.finalHex();
}

QString Sha256Hasher::fileHex(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    Sha256Hasher hasher;
    std::vector<char> buffer(kReadChunk);
    qint64 got = 0;
    while ((got = file.read(buffer.data(), kReadChunk)) > 0)
        hasher.update(buffer.data(), got);
    return got < 0 ? QString() : hasher.finalHex();
}

bool Sha256Hasher::matches(const QString& manifestHash, const QString& actualHex)
{
    return isHexDigest(manifestHash) && manifestHash.compare(actualHex, Qt::CaseInsensitive) == 0;
}
