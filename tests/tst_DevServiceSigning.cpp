// Signed manifests and resumable downloads of the dev service, checked with the launcher's verifier and against
// keys and signatures of the openssl tool.
#include <QTemporaryDir>
#include <QtTest>

#include "DevServiceProcess.h"
#include "HttpsFetch.h"
#include "ManifestSignature.h"
#include "UpdateTestFiles.h"

using namespace OrvelTest;
using namespace UpdateTest;

namespace {
QByteArray openssl(const QStringList& arguments)
{
    QProcess process;
    process.start("openssl", arguments);
    return process.waitForFinished(30000) && process.exitCode() == 0 ? process.readAllStandardOutput() : "<failed>";
}
} // namespace

class tst_DevServiceSigning : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verification_data();
    void verification();
    void rangeContinuesADownload();

private:
    FetchResult get(DevServiceProcess& service, const QString& path, const HeaderList& headers = {})
    {
        return httpsFetch(service.sslConfiguration(), "GET", QUrl(service.updateUrl() + path), headers);
    }

    QTemporaryDir m_dir;
    DevServiceProcess m_ownKey;      // with the key it made in its state folder
    DevServiceProcess m_operatorKey; // --sign-key: a key the openssl tool made
};

void tst_DevServiceSigning::initTestCase()
{
    writeFile(m_dir.filePath("1.0/a.bin"), pattern(100000, 1));
    writeFile(m_dir.filePath("1.1/a.bin"), pattern(100000, 2));
    openssl({"genpkey", "-algorithm", "ed25519", "-out", m_dir.filePath("key.pem")});
    const QStringList publish{"--publish", "1.0=" + m_dir.filePath("1.0"), "--publish", "1.1=" + m_dir.filePath("1.1")};
    QVERIFY2(m_ownKey.start(m_dir.filePath("own"), publish), qPrintable(m_ownKey.failure()));
    QVERIFY(m_operatorKey.start(m_dir.filePath("operator"),
                                publish + QStringList{"--sign-key", m_dir.filePath("key.pem")}));
}

void tst_DevServiceSigning::verification_data()
{
    QTest::addColumn<QString>("reason"); // part of the reason given; empty when the signature holds
    QTest::newRow("good, key made in the state folder") << QString();
    QTest::newRow("good, --sign-key made by openssl") << QString();
    QTest::newRow("missing header") << "no X-Orvel-Signature";
    QTest::newRow("over another manifest") << "does not verify";
    QTest::newRow("body byte changed after signing") << "does not verify";
    QTest::newRow("key of 31 bytes") << "public key";
}

void tst_DevServiceSigning::verification()
{
    QFETCH(QString, reason);
    const QString fault = QTest::currentDataTag();
    DevServiceProcess& service = fault.endsWith("state folder") ? m_ownKey : m_operatorKey;
    const QString pem = m_dir.filePath(fault.endsWith("state folder") ? "own/manifest-key.pem" : "key.pem");
    const FetchResult answer = get(service, "orvel/patch?version=0.0.0.0&os=1&output=json");
    QByteArray body = answer.body;
    QByteArray signature = answer.headers.value("x-orvel-signature");
    QByteArray key = service.value("ORVEL_MANIFEST_PUBLIC_KEY").toLatin1();
    // The printed key is the PEM file's, and as Ed25519 is deterministic, openssl signs the body just as the service.
    QCOMPARE(key, openssl({"pkey", "-in", pem, "-pubout", "-outform", "DER"}).right(32).toBase64());
    writeFile(m_dir.filePath("body"), body);
    QCOMPARE(signature,
             openssl({"pkeyutl", "-sign", "-rawin", "-inkey", pem, "-in", m_dir.filePath("body")}).toBase64());
    QCOMPARE(service.value("ORVEL_HASH_ALGORITHM"), QString("sha256"));

    if (fault == "missing header")
        signature.clear();
    else if (fault == "over another manifest")
        signature =
            get(service, "orvel/patch?version=1.0.t&vt=daily&os=1&output=json").headers.value("x-orvel-signature");
    else if (fault == "body byte changed after signing")
        body[body.size() / 2] = char(body[body.size() / 2] ^ 0x01);
    else if (fault == "key of 31 bytes")
        key = QByteArray::fromBase64(key).chopped(1).toBase64();
    QString given;
    QCOMPARE(ManifestSignature::verify(body, signature, QString::fromLatin1(key), &given), reason.isEmpty());
    QVERIFY2(given.contains(reason), qPrintable(given));
}

void tst_DevServiceSigning::rangeContinuesADownload()
{
    const QString file = "orvel/patch/download?version=1.1&os=1&file=/a.bin";
    FetchResult answer = get(m_ownKey, file, {{"Range", "bytes=40000-"}});
    QCOMPARE(answer.status, 206);
    QCOMPARE(answer.headers.value("content-range"), QByteArray("bytes 40000-99999/100000"));
    QCOMPARE(answer.body, pattern(100000, 2).mid(40000));
    answer = get(m_ownKey, file, {{"Range", "bytes=100000-"}});
    QCOMPARE(answer.status, 416);
    QCOMPARE(answer.headers.value("content-range"), QByteArray("bytes */100000"));
}

QTEST_MAIN(tst_DevServiceSigning)
#include "tst_DevServiceSigning.moc"
