#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

// SHA-256 fed piece by piece, so a download is hashed while it is written and never read back. One hasher per file
// and thread; movable, not copyable. The manifest's "hash" texts are this digest as 64 hex digits.
class Sha256Hasher
{
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(Sha256Hasher&& other) noexcept;
    Sha256Hasher& operator=(Sha256Hasher&& other) noexcept;

    // Starts over, forgetting what was fed.
    void init();
    void update(const char* data, qint64 size);
    void update(const QByteArray& data) { update(data.constData(), data.size()); }
    // The digest of everything fed since init() as 64 lowercase hex digits; the hasher then starts over.
    QString finalHex();

    static QString hex(const QByteArray& data);
    // The digest of a file's contents; empty when it cannot be read.
    static QString fileHex(const QString& path);
    // True when `manifestHash` is 64 hex digits that name the same digest as `actualHex`, letter case aside.
    static bool matches(const QString& manifestHash, const QString& actualHex);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
