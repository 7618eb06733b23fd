#include "Sha256.h"

#include <cryptopp/sha.h>

struct Sha256::State
{
    CryptoPP::SHA256 hash;
};

Sha256::Sha256() : m_state(std::make_unique<State>())
{}

Sha256::~Sha256() = default;

void Sha256::update(const char* data, size_t length)
{
    m_state->hash.Update(reinterpret_cast<const CryptoPP::byte*>(data), length);
}

QByteArray Sha256::finalHex()
{
    QByteArray digest(CryptoPP::SHA256::DIGESTSIZE, Qt::Uninitialized);
    m_state->hash.Final(reinterpret_cast<CryptoPP::byte*>(digest.data()));
    return digest.toHex();
}
