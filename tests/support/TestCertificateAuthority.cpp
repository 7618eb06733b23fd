#include "TestCertificateAuthority.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace OrvelTest {

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool openssl(const QString& folder, const QStringList& arguments)
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.start(QStringLiteral("openssl"), arguments);
    return tool.waitForFinished(30000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// NAME.pem and NAME-key.pem in `folder`: a new key, with exactly `extensions`, signed as `signing` says.
bool makeCertificate(const QString& folder, const QString& name, const QString& commonName,
                     const QByteArray& extensions, const QStringList& signing)
{
    QFile file(folder + QStringLiteral("/") + name + QStringLiteral(".ext"));
    if (!file.open(QIODevice::WriteOnly) || file.write(extensions) != extensions.size())
        return false;
    file.close();
    const QString serial = QString::number(QRandomGenerator::global()->bounded(1, 1 << 30));
    return openssl(folder, {"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
                            "/CN=" + commonName, "-keyout", name + "-key.pem", "-out", name + ".csr"}) &&
           openssl(folder, QStringList{"x509", "-req", "-in", name + ".csr", "-days", "1", "-set_serial", serial,
                                       "-extfile", name + ".ext", "-out", name + ".pem"} +
                               signing);
}

} // namespace

TestCertificateAuthority::TestCertificateAuthority(const QString& commonName)
{
    m_valid = m_dir.isValid() &&
              makeCertificate(m_dir.path(), "ca", commonName,
                              "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n",
                              {"-key", "ca-key.pem"}) &&
              makeCertificate(m_dir.path(), "server", "127.0.0.1",
                              "basicConstraints=critical,CA:FALSE\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n"
                              "extendedKeyUsage=serverAuth\n",
                              {"-CA", "ca.pem", "-CAkey", "ca-key.pem"});
    m_serverCertificate = fileBytes(m_dir.filePath(QStringLiteral("server.pem")));
    m_serverKey = fileBytes(m_dir.filePath(QStringLiteral("server-key.pem")));
}

QString TestCertificateAuthority::caCertificatePath() const
{
    return m_valid ? m_dir.filePath(QStringLiteral("ca.pem")) : QString();
}

TestCertificateAuthority& TestCertificateAuthority::trusted()
{
    static TestCertificateAuthority ca(QStringLiteral("Orvel Trusted Test CA"));
    static const bool added = [] {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.addCaCertificates(QSslCertificate::fromPath(ca.caCertificatePath()));
        QSslConfiguration::setDefaultConfiguration(config);
        return true;
    }();
    Q_UNUSED(added);
    return ca;
}

} // namespace OrvelTest
