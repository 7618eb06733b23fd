// Token sealing: sizes, freshness, round trips, rejection of damaged blobs, and the blob layout checked with the
// openssl command line so that a self-consistent but wrong layout cannot pass.
#include <QtTest>

#include "CryptoUtil.h"
#include "SealingKey.h"
#include "UpdateTestFiles.h"

using UpdateTest::openssl;

class tst_CryptoUtil : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("blobLength");

        QTest::newRow("empty: empty blob") << QByteArray() << 0;
        QTest::newRow("15 bytes") << QByteArray(15, 'x') << 80;
        QTest::newRow("16 bytes with zeros: a full padding block") << QByteArray("0123456789ab\0\0\0\0", 16) << 96;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, plain);
        QFETCH(int, blobLength);
        Verdant::CryptoUtil crypto;

        const QByteArray blob = crypto.encrypt(plain, SealingKey);
        QCOMPARE(blob.size(), blobLength);
        QCOMPARE(crypto.decrypt(blob, SealingKey), plain);
        // Another key never opens it (the tag cannot tell, the padding check usually does); a short key seals nothing.
        QVERIFY(plain.isEmpty() || crypto.decrypt(blob, "Xz7#Lp2!Vw9$Rk4&") != plain);
        QVERIFY(crypto.encrypt(plain, "short").isEmpty() && crypto.decrypt(blob, "short").isEmpty());
        if (plain.isEmpty())
            return;
        // A fresh vector and MAC key for every blob, from two draws.
        const QByteArray other = crypto.encrypt(plain, SealingKey);
        QVERIFY(blob.left(16) != other.left(16) && blob.mid(16, 16) != other.mid(16, 16));
        QVERIFY(blob.left(16) != blob.mid(16, 16));
        // Another implementation finds the tag over the ciphertext with the MAC key, and the text with the vector and
        // the key text's first 16 bytes.
        QTemporaryDir dir;
        const QString cipherText = dir.filePath("ciphertext");
        UpdateTest::writeFile(cipherText, blob.mid(32, blob.size() - 64));
        const QByteArray macKey = blob.mid(16, 16).toHex();
        QCOMPARE(openssl({"dgst", "-sha256", "-binary", "-mac", "HMAC", "-macopt", "hexkey:" + macKey, cipherText}),
                 blob.right(32));
        const QByteArray aesKey = QByteArray(SealingKey).left(16).toHex();
        QCOMPARE(openssl({"enc", "-d", "-aes-128-cbc", "-K", aesKey, "-iv", blob.left(16).toHex(), "-in", cipherText}),
                 plain);
    }

    void damagedBlobRejected_data()
    {
        QTest::addColumn<QByteArray>("blob");

        // Two cipher blocks: a flip in the first leaves the padding intact, so only the tag can refuse it.
        const QByteArray blob = Verdant::CryptoUtil().encrypt(QByteArray("twenty bytes of text"), SealingKey);
        const auto flipped = [&blob](int at) { return QByteArray(blob).replace(at, 1, QByteArray(1, blob[at] ^ 1)); };
        QTest::newRow("first ciphertext byte flipped") << flipped(32);
        QTest::newRow("last tag byte flipped") << flipped(95);
        QTest::newRow("cut by one byte") << blob.left(95);
        QTest::newRow("cut to 63 bytes") << blob.left(63);
        QTest::newRow("a block appended") << blob + QByteArray(16, '\0');
        QTest::newRow("a byte appended") << blob + QByteArray(1, '\0');
    }

    void damagedBlobRejected()
    {
        QFETCH(QByteArray, blob);
        QCOMPARE(Verdant::CryptoUtil().decrypt(blob, SealingKey), QByteArray());
    }
};

QTEST_GUILESS_MAIN(tst_CryptoUtil)
#include "tst_CryptoUtil.moc"
