// Token sealing: sizes, freshness, round trips, rejection of damaged blobs, and the blob layout checked with the
// openssl command line so that a self-consistent but wrong layout cannot pass.
#include <QtTest>

#include "CryptoUtil.h"

namespace {

const std::string kKeyText = "Qz7#Lp2!Vw9$Rk4&";

// openssl enc or dgst with `input` on its standard input: its standard output, or "<failed>".
QByteArray openssl(const QString& command, const QStringList& options, const QByteArray& input)
{
    const QStringList arguments = command == "enc" ? QStringList{"enc", "-aes-128-cbc", "-K",
                                                                 QByteArray::fromStdString(kKeyText).left(16).toHex()}
                                                   : QStringList{"dgst", "-sha256", "-binary", "-mac", "HMAC"};
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments + options);
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
    void weOpenOpensslBlob();
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
    QVERIFY(Verdant::CryptoUtil().decrypt(blob, kKeyText).isEmpty());
}

void tst_CryptoUtil::opensslReadsOurBlob()
{
    QByteArray plain;
    for (int i = 0; i < 256; ++i)
        plain.append(static_cast<char>(i));
    const QByteArray blob = Verdant::CryptoUtil().encrypt(plain, kKeyText);
    const QByteArray cipherText = blob.mid(32, blob.size() - 64);

    QCOMPARE(openssl("dgst", {"-macopt", "hexkey:" + blob.mid(16, 16).toHex()}, cipherText), blob.right(32));
    QCOMPARE(openssl("enc", {"-d", "-iv", blob.left(16).toHex()}, cipherText), plain);
}

void tst_CryptoUtil::weOpenOpensslBlob()
{
    // A blob assembled by hand from openssl's output, as the design application's side would build it.
    const QByteArray plain("sealed elsewhere\0with a zero", 28);
    const QByteArray iv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    const QByteArray macKey = QByteArray::fromHex("f0e1d2c3b4a5968778695a4b3c2d1e0f");
    const QByteArray cipherText = openssl("enc", {"-e", "-iv", iv.toHex()}, plain);
    QCOMPARE(cipherText.size(), 32);
    const QByteArray tag = openssl("dgst", {"-macopt", "hexkey:" + macKey.toHex()}, cipherText);
    QCOMPARE(Verdant::CryptoUtil().decrypt(iv + macKey + cipherText + tag, kKeyText), plain);
}

QTEST_GUILESS_MAIN(tst_CryptoUtil)
#include "tst_CryptoUtil.moc"
