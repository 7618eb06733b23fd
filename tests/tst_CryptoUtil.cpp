// Token sealing: sizes, freshness, round trips, rejection of damaged blobs, and the blob layout checked with the
// openssl command line so that a self-consistent but wrong layout cannot pass.
#include <iostream>
#include <sstream>

#include <QtTest>

#include "CryptoUtil.h"

namespace {

const std::string kKeyText = "Qz7#Lp2!Vw9$Rk4&";

// Runs openssl with `input` on its standard input: its standard output, or "<failed>".
QByteArray openssl(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    process.write(input);
    process.closeWriteChannel();
    const bool ok =
        process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? process.readAllStandardOutput() : QByteArray("<failed>");
}

} // namespace

class tst_CryptoUtil : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void otherKeysNeverOpen();
    void damagedBlobRejected_data();
    void damagedBlobRejected();
    void opensslReadsOurBlob();
};

void tst_CryptoUtil::roundTrip_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<int>("blobLength");

    QTest::newRow("empty: empty blob") << QByteArray() << 0;
    QTest::newRow("15 bytes") << QByteArray(15, 'x') << 80;
    QTest::newRow("16 bytes with zeros: a full padding block") << QByteArray("0123456789ab\0\0\0\0", 16) << 96;
}

void tst_CryptoUtil::roundTrip()
{
    QFETCH(QByteArray, plain);
    QFETCH(int, blobLength);
    Verdant::CryptoUtil crypto;

    const QByteArray blob = crypto.encrypt(plain, kKeyText);
    QCOMPARE(blob.size(), blobLength);
    QCOMPARE(crypto.decrypt(blob, kKeyText), plain);
    // The std::string form has the same layout: each form opens the other's blob.
    const std::string other = crypto.encrypt(plain.toStdString(), kKeyText);
    QCOMPARE(crypto.decrypt(QByteArray::fromStdString(other), kKeyText), plain);
    QCOMPARE(QByteArray::fromStdString(crypto.decrypt(blob.toStdString(), kKeyText)), plain);
    // A fresh vector and MAC key for every blob, from two draws.
    if (!plain.isEmpty()) {
        QVERIFY(blob.left(16) != QByteArray::fromStdString(other.substr(0, 16)));
        QVERIFY(blob.mid(16, 16) != QByteArray::fromStdString(other.substr(16, 16)));
        QVERIFY(blob.left(16) != blob.mid(16, 16));
    }
}

void tst_CryptoUtil::otherKeysNeverOpen()
{
    // The tag cannot catch a wrong key (its key travels in the blob); the padding check usually does, and even when
    // the padding happens to look valid the text must not come out.
    Verdant::CryptoUtil crypto;
    const QByteArray blob = crypto.encrypt(QByteArray("the user's token"), kKeyText);
    QVERIFY(crypto.decrypt(blob, "Xz7#Lp2!Vw9$Rk4&") != "the user's token");
    QVERIFY(crypto.encrypt(QByteArray("token"), "short").isEmpty());
    QVERIFY(crypto.decrypt(blob, "short").isEmpty());
}

void tst_CryptoUtil::damagedBlobRejected_data()
{
    QTest::addColumn<QByteArray>("blob");

    // Two cipher blocks: a flip in the first leaves the padding intact, so only the tag can refuse it.
    const QByteArray blob = Verdant::CryptoUtil().encrypt(QByteArray("twenty bytes of text"), kKeyText);
    QCOMPARE(blob.size(), 96);
    const auto flipped = [&blob](int index) {
        QByteArray damaged = blob;
        damaged[index] = static_cast<char>(damaged.at(index) ^ 0x01);
        return damaged;
    };
    QTest::newRow("first ciphertext byte flipped") << flipped(32);
    QTest::newRow("last tag byte flipped") << flipped(95);
    QTest::newRow("cut by one byte") << blob.left(95);
    QTest::newRow("cut to 63 bytes") << blob.left(63);
    QTest::newRow("a block appended") << blob + QByteArray(16, '\0');
}

void tst_CryptoUtil::damagedBlobRejected()
{
    QFETCH(QByteArray, blob);
    std::ostringstream diagnostics;
    std::streambuf* previous = std::cerr.rdbuf(diagnostics.rdbuf());
    const QByteArray opened = Verdant::CryptoUtil().decrypt(blob, kKeyText);
    std::cerr.rdbuf(previous);
    QVERIFY(opened.isEmpty());
    // The tag refuses it before the cipher runs, so no padding verdict can come out, not even as a diagnostic.
    QCOMPARE(QString::fromStdString(diagnostics.str()), QString());
}

void tst_CryptoUtil::opensslReadsOurBlob()
{
    // Another implementation finds the tag over the ciphertext with the MAC key, and the text with the vector and the
    // key text's first 16 bytes. (With the round trips this fixes the layout that opening reads as well.)
    QByteArray plain;
    for (int i = 0; i < 256; ++i)
        plain.append(static_cast<char>(i));
    const QByteArray blob = Verdant::CryptoUtil().encrypt(plain, kKeyText);
    const QByteArray cipherText = blob.mid(32, blob.size() - 64);
    const QByteArray macKey = blob.mid(16, 16).toHex();
    QCOMPARE(openssl({"dgst", "-sha256", "-binary", "-mac", "HMAC", "-macopt", "hexkey:" + macKey}, cipherText),
             blob.right(32));
    const QByteArray aesKey = QByteArray::fromStdString(kKeyText).left(16).toHex();
    QCOMPARE(openssl({"enc", "-d", "-aes-128-cbc", "-K", aesKey, "-iv", blob.left(16).toHex()}, cipherText), plain);
}

QTEST_GUILESS_MAIN(tst_CryptoUtil)
#include "tst_CryptoUtil.moc"
