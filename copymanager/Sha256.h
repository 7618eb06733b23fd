#pragma once

#include <cstddef>
#include <memory>

#include <QByteArray>

// SHA-256 over data given in pieces; Crypto++ stays out of this header.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const char* data, size_t length);
    // The digest as 64 lower-case hex digits; the hasher is reset afterwards.
    QByteArray finalHex();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
