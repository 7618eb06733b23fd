#include "DevService.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QtEndian>

#include <sys/socket.h>

#include <httplib.h>

#include "BuildCatalog.h"
#include "DevCertificates.h"
#include "HtmlPages.h"
#include "ManifestSigner.h"
#include "PngImage.h"
#include "SignInRegistry.h"
#include "TokenSigner.h"

namespace {
constexpr size_t kMaxBodySize = 64 * 1024;
constexpr qint64 kMaxArtworkSize = 32 * 1024 * 1024;
constexpr size_t kStreamChunk = 256 * 1024;

const char* const kJson = "application/json";
const char* const kText = "text/plain; charset=utf-8";
const char* const kHtml = "text/html; charset=utf-8";

using Query = QHash<QString, QString>;

QString decodeComponent(std::string text, bool bPlusIsSpace)
{
    if (bPlusIsSpace)
        std::replace(text.begin(), text.end(), '+', ' ');
    const QByteArray bytes = QByteArray::fromPercentEncoding(QByteArray::fromStdString(text));
    return QString::fromUtf8(bytes.constData(), bytes.size()); // keeps NUL bytes, so they can be refused
}

// Parsed from the raw text and percent-decoded: the launcher encodes the version and each path segment, and a "+"
// (even unencoded) stays a "+", since form decoding would turn a "+" in a file name into a blank. The first
// occurrence of a key wins.
Query parseQuery(const std::string& text, bool bPlusIsSpace)
{
    Query query;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            const QString key = decodeComponent(pair.substr(0, equals), bPlusIsSpace);
            const QString value =
                equals == std::string::npos ? QString() : decodeComponent(pair.substr(equals + 1), bPlusIsSpace);
            if (!query.contains(key))
                query.insert(key, value);
        }
        start = end + 1;
    }
    return query;
}

Query targetQuery(const httplib::Request& req)
{
    const size_t question = req.target.find('?');
    return question == std::string::npos ? Query() : parseQuery(req.target.substr(question + 1), false);
}

std::string utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

void answer(httplib::Response& res, int status, const QByteArray& body, const char* contentType)
{
    res.status = status;
    res.set_content(body.constData(), static_cast<size_t>(body.size()), contentType);
}

void answerJson(httplib::Response& res, int status, const QJsonObject& object)
{
    answer(res, status, QJsonDocument(object).toJson(QJsonDocument::Compact), kJson);
}

void answerText(httplib::Response& res, int status, const QString& text)
{
    answer(res, status, text.toUtf8(), kText);
}

void answerHtml(httplib::Response& res, int status, const QString& html)
{
    answer(res, status, html.toUtf8(), kHtml);
}

// "/" + a relative path without "..", backslashes or control characters; anything else could name a file
// outside the build.
bool isSafeFileArgument(const QString& file)
{
    if (file.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : file) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    const QStringList segments = file.split(QLatin1Char('/'));
    return !segments.contains(QStringLiteral(".."));
}

QString percentEncodePath(const QString& path)
{
    QStringList segments = path.split(QLatin1Char('/'));
    for (QString& segment : segments)
        segment = QString::fromLatin1(QUrl::toPercentEncoding(segment));
    return segments.join(QLatin1Char('/'));
}

bool isPlausibleEmail(const QString& email)
{
    const int at = email.indexOf(QLatin1Char('@'));
    if (email.size() > 254 || at <= 0 || at != email.lastIndexOf(QLatin1Char('@')) || at == email.size() - 1)
        return false;
    for (const QChar c : email) {
        if (c.isSpace() || c.unicode() < 0x20 || QStringLiteral("<>\"'\\,;").contains(c))
            return false;
    }
    return true;
}

// Stable per address, across restarts and state folders, so a returning user keeps the same id and avatar.
qint64 userIdFor(const QString& email)
{
    const QByteArray digest = QCryptographicHash::hash(email.toUtf8(), QCryptographicHash::Sha256);
    return 100000 + qFromBigEndian<quint32>(digest.constData()) % 900000;
}

QString randomInstanceId()
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString id;
    for (int i = 0; i < 32; ++i)
        id.append(QLatin1Char(alphabet[QRandomGenerator::global()->bounded(62)]));
    return id;
}

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

const char* imageContentType(const QString& suffix)
{
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("webp"))
        return "image/webp";
    if (suffix == QLatin1String("gif"))
        return "image/gif";
    if (suffix == QLatin1String("bmp"))
        return "image/bmp";
    return "application/octet-stream";
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    default:
        return status >= 500 ? "Server Error" : "Request Refused";
    }
}

enum class RangeAnswer { Whole, Part, Unsatisfiable };

// The part of a file of `size` bytes that a "Range" header asks for, as the first and last byte: "bytes=N-",
// "bytes=N-M" or "bytes=-N" (the last N bytes). Anything else (several ranges, a malformed value) asks for the whole
// file, as HTTP lets a server choose.
RangeAnswer byteRange(const std::string& header, qint64 size, qint64* first, qint64* last)
{
    static const QRegularExpression single(QStringLiteral(R"(^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$)"));
    const QRegularExpressionMatch match = single.match(QString::fromStdString(header));
    if (header.empty() || !match.hasMatch() || (match.capturedRef(1).isEmpty() && match.capturedRef(2).isEmpty()))
        return RangeAnswer::Whole;
    bool bFirstOk = false;
    bool bLastOk = false;
    const qint64 from = match.capturedRef(1).toLongLong(&bFirstOk);
    const qint64 to = match.capturedRef(2).toLongLong(&bLastOk);
    if (match.capturedRef(1).isEmpty()) { // the last `to` bytes; a number too large for 64 bits means all of them
        if (size == 0 || (bLastOk && to == 0))
            return RangeAnswer::Unsatisfiable;
        *first = bLastOk ? std::max<qint64>(0, size - to) : 0;
        *last = size - 1;
        return RangeAnswer::Part;
    }
    if (!bFirstOk || from >= size)
        return RangeAnswer::Unsatisfiable;
    if (!match.capturedRef(2).isEmpty() && bLastOk && to < from)
        return RangeAnswer::Whole;
    *first = from;
    *last = match.capturedRef(2).isEmpty() || !bLastOk ? size - 1 : std::min(to, size - 1);
    return RangeAnswer::Part;
}

thread_local std::chrono::steady_clock::time_point t_requestStart;

// The library listens with a backlog of 5: 16 clients connecting at once overflow it, and each dropped connection
// attempt costs its client a one-second retransmission. This gives access to the socket to widen it.
class HttpsServer : public httplib::SSLServer
{
public:
    using httplib::SSLServer::SSLServer;

    bool widenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};
} // namespace

struct DevService::Private
{
    Private(const Options& options, std::shared_ptr<const BuildCatalog> catalog)
        : options(options), m_catalog(std::move(catalog)), certificates(options.stateFolder)
    {}

    std::shared_ptr<const BuildCatalog> catalog() const
    {
        std::lock_guard<std::mutex> lock(catalogMutex);
        return m_catalog;
    }

    bool hasApiVersionHeader(const httplib::Request& req, httplib::Response& res) const;
    QJsonObject bearerClaims(const httplib::Request& req) const;

    void onIndex(const httplib::Request& req, httplib::Response& res);
    void onArchive(const httplib::Request& req, httplib::Response& res);
    void onPatch(const httplib::Request& req, httplib::Response& res);
    void onDownload(const httplib::Request& req, httplib::Response& res);
    void onSignInPage(const httplib::Request& req, httplib::Response& res);
    void onSignInSubmit(const httplib::Request& req, httplib::Response& res);
    void onLoginPoll(const httplib::Request& req, httplib::Response& res);
    void onUserInfo(const httplib::Request& req, httplib::Response& res);
    void onUserRecord(const httplib::Request& req, httplib::Response& res);
    void onAvatar(const httplib::Request& req, httplib::Response& res);
    void onArtworkAddress(const httplib::Request& req, httplib::Response& res);
    void onArtwork(const httplib::Request& req, httplib::Response& res);
    void logRequest(const httplib::Request& req, const httplib::Response& res);
    void route();
    QString origin() const;
    QString originFor(const httplib::Request& req) const;

    Options options;
    mutable std::mutex catalogMutex;
    std::shared_ptr<const BuildCatalog> m_catalog;
    DevCertificates certificates;
    TokenSigner signer;
    ManifestSigner manifestSigner;
    SignInRegistry signIns;
    std::unique_ptr<HttpsServer> server;
    QByteArray artwork;
    QString artworkName;
    int boundPort = 0;
    std::mutex logMutex;
    std::mutex dropMutex;
    QSet<QString> droppedFiles; // "version/path" of the files whose first download was cut
};

bool DevService::Private::hasApiVersionHeader(const httplib::Request& req, httplib::Response& res) const
{
    if (req.get_header_value("api-version") == "2.0")
        return true;
    answerText(res, 400, QStringLiteral("The header api-version: 2.0 is required.\n"));
    return false;
}

QJsonObject DevService::Private::bearerClaims(const httplib::Request& req) const
{
    const std::string authorization = req.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    if (authorization.compare(0, prefix.size(), prefix) != 0)
        return {};
    return signer.verify(QByteArray::fromStdString(authorization.substr(prefix.size())).trimmed(), nowSeconds());
}

void DevService::Private::onIndex(const httplib::Request&, httplib::Response& res)
{
    QList<HtmlPages::BuildSummary> summaries;
    const std::shared_ptr<const BuildCatalog> catalog = this->catalog();
    for (const BuildCatalog::Build* build : catalog->builds()) {
        summaries.append({build->version, build->files.size(),
                          static_cast<qint64>(build->manifest.value(QStringLiteral("totalFileSize")).toDouble())});
    }
    answerHtml(res, 200, HtmlPages::index(summaries, options.launcherVersion, randomInstanceId()));
}

void DevService::Private::onArchive(const httplib::Request&, httplib::Response& res)
{
    const QJsonObject entry{{QStringLiteral("version"), options.launcherVersion}};
    answerJson(res, 200, QJsonObject{{QStringLiteral("archive"), QJsonArray{entry}}});
}

void DevService::Private::onPatch(const httplib::Request& req, httplib::Response& res)
{
    const Query query = targetQuery(req);
    if (query.value(QStringLiteral("version")).isEmpty() || query.value(QStringLiteral("os")).isEmpty()) {
        answerText(res, 400, QStringLiteral("version and os are required.\n"));
        return;
    }
    const BuildCatalog::Build* build = nullptr;
    const std::shared_ptr<const BuildCatalog> catalog = this->catalog();
    switch (catalog->answerPatch(query.value(QStringLiteral("version")),
                                 query.value(QStringLiteral("vt")) == QLatin1String("daily"), &build)) {
    case BuildCatalog::PatchAnswer::UpToDate:
        answer(res, 200, QByteArray(), kText);
        break;
    case BuildCatalog::PatchAnswer::NotFound:
        answer(res, 200, QByteArrayLiteral("Not Found"), kText);
        break;
    case BuildCatalog::PatchAnswer::Manifest:
        answer(res, 200, build->manifestJson, kJson);
        res.set_header("X-Orvel-Signature", manifestSigner.signatureBase64(build->manifestJson).toStdString());
        break;
    }
}

void DevService::Private::onDownload(const httplib::Request& req, httplib::Response& res)
{
    const Query query = targetQuery(req);
    const QString version = query.value(QStringLiteral("version"));
    const QString file = query.value(QStringLiteral("file"));
    if (version.isEmpty() || !file.startsWith(QLatin1Char('/')) || file.size() < 2) {
        answerText(res, 400, QStringLiteral("version and file=/PATH are required.\n"));
        return;
    }
    if (!isSafeFileArgument(file)) {
        answerText(res, 400, QStringLiteral("Invalid file path.\n"));
        return;
    }
    const std::shared_ptr<const BuildCatalog> catalog = this->catalog();
    const BuildCatalog::Build* build =
        catalog->buildForDownload(version, query.value(QStringLiteral("vt")) == QLatin1String("daily"));
    const QString path = file.mid(1);
    const auto entry = build ? build->files.constFind(path) : QHash<QString, BuildCatalog::File>::const_iterator();
    if (!build || entry == build->files.constEnd()) {
        answerText(res, 404, QStringLiteral("No such file in this build.\n"));
        return;
    }
    if (!options.redirectDownloads.isEmpty()) {
        res.set_redirect(utf8(options.redirectDownloads + percentEncodePath(build->version) + QLatin1Char('/') +
                              percentEncodePath(path)),
                         302);
        return;
    }

    auto source = std::make_shared<QFile>(entry->absolutePath);
    if (!source->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        answerText(res, 500, QStringLiteral("The file cannot be read.\n"));
        return;
    }
    // A partial download continues with "Range: bytes=N-".
    const qint64 size = source->size();
    const bool bRange = !req.get_header_value("Range").empty();
    qint64 first = 0;
    qint64 last = size - 1;
    res.set_header("Accept-Ranges", "bytes");
    switch (byteRange(req.get_header_value("Range"), size, &first, &last)) {
    case RangeAnswer::Unsatisfiable:
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        answerText(res, 416, QStringLiteral("The range lies beyond the end of the file.\n"));
        return;
    case RangeAnswer::Part:
        res.status = 206;
        res.set_header("Content-Range",
                       "bytes " + std::to_string(first) + '-' + std::to_string(last) + '/' + std::to_string(size));
        break;
    case RangeAnswer::Whole:
        res.status = 200;
        break;
    }
    qint64 dropAt = -1;
    if (options.dropAfterBytes >= 0 && !bRange && last - first + 1 > options.dropAfterBytes) {
        std::lock_guard<std::mutex> lock(dropMutex);
        if (!droppedFiles.contains(build->version + QLatin1Char('/') + path)) {
            droppedFiles.insert(build->version + QLatin1Char('/') + path);
            dropAt = options.dropAfterBytes;
        }
    }
    // Read piece by piece as the client takes it, so a large file never sits in memory.
    res.set_content_provider(static_cast<size_t>(last - first + 1), "application/octet-stream",
                             [source, first, dropAt](size_t offset, size_t length, httplib::DataSink& sink) {
                                 thread_local std::vector<char> buffer(kStreamChunk);
                                 const qint64 position = first + static_cast<qint64>(offset);
                                 size_t want = std::min(length, kStreamChunk);
                                 if (dropAt >= 0) { // returning false closes the connection
                                     if (static_cast<qint64>(offset) >= dropAt)
                                         return false;
                                     want = std::min(want, static_cast<size_t>(dropAt - static_cast<qint64>(offset)));
                                 }
                                 if (source->pos() != position && !source->seek(position))
                                     return false;
                                 const qint64 got = source->read(buffer.data(), static_cast<qint64>(want));
                                 return got > 0 && sink.write(buffer.data(), static_cast<size_t>(got));
                             });
}

void DevService::Private::onSignInPage(const httplib::Request& req, httplib::Response& res)
{
    const Query query = targetQuery(req);
    const QString instanceId = query.value(QStringLiteral("InstanceId"));
    if (!SignInRegistry::isValidInstanceId(instanceId)) {
        answerHtml(res, 400,
                   HtmlPages::message(QStringLiteral("Cannot sign in"),
                                      QStringLiteral("This sign-in link is incomplete. Start the sign-in from the "
                                                     "launcher again.")));
        return;
    }
    answerHtml(res, 200,
               HtmlPages::signInForm(instanceId, query.value(QStringLiteral("client"), QStringLiteral("0")),
                                     query.value(QStringLiteral("returnUrl"))));
}

void DevService::Private::onSignInSubmit(const httplib::Request& req, httplib::Response& res)
{
    const Query form = parseQuery(req.body, true);
    const QString instanceId = form.value(QStringLiteral("InstanceId"));
    const QString email = form.value(QStringLiteral("email")).trimmed().toLower();
    const QString returnUrl = form.value(QStringLiteral("returnUrl"));
    if (!SignInRegistry::isValidInstanceId(instanceId)) {
        answerHtml(res, 400,
                   HtmlPages::message(QStringLiteral("Cannot sign in"),
                                      QStringLiteral("This sign-in form is incomplete. Start the sign-in from the "
                                                     "launcher again.")));
        return;
    }
    if (!isPlausibleEmail(email)) {
        answerHtml(res, 400,
                   HtmlPages::signInForm(instanceId, form.value(QStringLiteral("client"), QStringLiteral("0")),
                                         returnUrl, QStringLiteral("Enter a valid e-mail address.")));
        return;
    }
    signIns.complete(instanceId, email, nowSeconds());
    // Only a path on this origin: anything else would let a crafted link send the user elsewhere.
    if (returnUrl.startsWith(QLatin1Char('/')) && !returnUrl.startsWith(QLatin1String("//")) &&
        !returnUrl.contains(QLatin1Char('\\'))) {
        res.set_redirect(utf8(returnUrl), 303);
        return;
    }
    answerHtml(res, 200, HtmlPages::signedIn());
}

void DevService::Private::onLoginPoll(const httplib::Request& req, httplib::Response& res)
{
    if (!hasApiVersionHeader(req, res))
        return;
    QJsonParseError parseError;
    const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &parseError);
    const QString instanceId = body.object().value(QStringLiteral("instanceId")).toString();
    if (parseError.error != QJsonParseError::NoError || !body.isObject() ||
        !SignInRegistry::isValidInstanceId(instanceId)) {
        answerText(res, 400, QStringLiteral("A JSON object with \"instanceId\" is required.\n"));
        return;
    }
    const qint64 now = nowSeconds();
    const QString email = signIns.collect(instanceId, now);
    if (email.isEmpty()) {
        answerText(res, 404, QStringLiteral("Not signed in yet.\n"));
        return;
    }
    const QByteArray token = signer.issue(QJsonObject{{QStringLiteral("instanceId"), instanceId},
                                                      {QStringLiteral("userId"), userIdFor(email)},
                                                      {QStringLiteral("email"), email},
                                                      {QStringLiteral("iat"), now},
                                                      {QStringLiteral("exp"), now + options.tokenLifetimeSeconds}});
    answer(res, 200, '"' + token + '"', kJson);
}

void DevService::Private::onUserInfo(const httplib::Request& req, httplib::Response& res)
{
    if (!hasApiVersionHeader(req, res))
        return;
    const QJsonObject claims = bearerClaims(req);
    if (claims.isEmpty()) {
        answerText(res, 401, QStringLiteral("The token is missing, invalid or expired.\n"));
        return;
    }
    answerJson(res, 200,
               QJsonObject{{QStringLiteral("userId"), claims.value(QStringLiteral("userId"))},
                           {QStringLiteral("email"), claims.value(QStringLiteral("email"))}});
}

void DevService::Private::onUserRecord(const httplib::Request& req, httplib::Response& res)
{
    if (!hasApiVersionHeader(req, res))
        return;
    if (bearerClaims(req).isEmpty()) {
        answerText(res, 401, QStringLiteral("The token is missing, invalid or expired.\n"));
        return;
    }
    bool ok = false;
    const uint id = QString::fromStdString(req.matches[1]).toUInt(&ok);
    if (!ok) {
        answerText(res, 404, QStringLiteral("No such user.\n"));
        return;
    }
    answerJson(res, 200,
               QJsonObject{
                   {QStringLiteral("photo"), QStringLiteral("%1/account/avatars/%2.png").arg(originFor(req)).arg(id)}});
}

void DevService::Private::onAvatar(const httplib::Request& req, httplib::Response& res)
{
    bool ok = false;
    const uint id = QString::fromStdString(req.matches[1]).toUInt(&ok);
    if (!ok) {
        answerText(res, 404, QStringLiteral("No such picture.\n"));
        return;
    }
    answer(res, 200, PngImage::avatar(id), "image/png");
}

void DevService::Private::onArtworkAddress(const httplib::Request& req, httplib::Response& res)
{
    const QString apiVersion = targetQuery(req).value(QStringLiteral("api-version"));
    if (apiVersion != QLatin1String("2") && apiVersion != QLatin1String("2.0")) {
        answerText(res, 400, QStringLiteral("The query api-version=2 is required.\n"));
        return;
    }
    answer(res, 200, '"' + QStringLiteral("%1/account/artwork/%2").arg(originFor(req), artworkName).toUtf8() + '"',
           kJson);
}

void DevService::Private::onArtwork(const httplib::Request& req, httplib::Response& res)
{
    if (QString::fromStdString(req.matches[1]) != artworkName) {
        answerText(res, 404, QStringLiteral("No such picture.\n"));
        return;
    }
    answer(res, 200, artwork, imageContentType(QFileInfo(artworkName).suffix()));
}

void DevService::Private::logRequest(const httplib::Request& req, const httplib::Response& res)
{
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t_requestStart);
    const size_t bytes = res.content_provider_ ? res.content_length_ : res.body.size();
    const QByteArray time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    // A continued download shows which part it asked for.
    const std::string range = req.has_header("Range") ? " range=" + req.get_header_value("Range") : std::string();
    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(stderr, "%s %s %s %s %d %zu %lld ms%s\n", time.constData(), req.remote_addr.c_str(),
                 req.method.c_str(), req.target.c_str(), res.status, bytes, static_cast<long long>(elapsed.count()),
                 range.c_str());
}

QString DevService::Private::origin() const
{
    if (!options.publicUrl.isEmpty())
        return options.publicUrl.endsWith(QLatin1Char('/')) ? options.publicUrl.chopped(1) : options.publicUrl;
    const bool bWildcard = options.host == QLatin1String("0.0.0.0") || options.host.isEmpty();
    return QStringLiteral("https://%1:%2").arg(bWildcard ? QStringLiteral("127.0.0.1") : options.host).arg(boundPort);
}

// Addresses handed to a client: the public URL, else the host and port the client itself asked for.
QString DevService::Private::originFor(const httplib::Request& req) const
{
    const QString host = QString::fromStdString(req.get_header_value("Host"));
    // A host name, an IPv4 address or a bracketed IPv6 one, with an optional port: nothing that could end the URL.
    static const QRegularExpression plainHost(QStringLiteral(R"(^(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.-]+)(:\d{1,5})?$)"));
    if (!options.publicUrl.isEmpty() || !plainHost.match(host).hasMatch())
        return origin();
    return QStringLiteral("https://") + host;
}

void DevService::Private::route()
{
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    auto bind = [this](void (Private::*handler)(Req, Res)) {
        return [this, handler](Req req, Res res) { (this->*handler)(req, res); };
    };
    httplib::Server& s = *server;
    s.Get("/", bind(&Private::onIndex));
    s.Get("/update/", bind(&Private::onIndex));
    s.Get("/account/", bind(&Private::onIndex));

    s.Get(R"(/update/orvel/archive/\d+)", bind(&Private::onArchive));
    s.Get("/update/orvel/patch", bind(&Private::onPatch));
    s.Get("/update/orvel/patch/download", bind(&Private::onDownload));

    s.Get("/account/Account/Login", bind(&Private::onSignInPage));
    s.Post("/account/Account/Login", bind(&Private::onSignInSubmit));
    s.Get("/account/signedin", [](Req, Res res) { answerHtml(res, 200, HtmlPages::signedIn()); });
    s.Get("/account/connect",
          [this](Req, Res res) { answerHtml(res, 200, HtmlPages::connect(options.launcherVersion)); });
    s.Post("/account/api/Accounts/Login/Instance", bind(&Private::onLoginPoll));
    s.Get("/account/api/accounts/Users/Info", bind(&Private::onUserInfo));
    s.Get(R"(/account/api/PCS/Users/([^/]+))", bind(&Private::onUserRecord));
    s.Get(R"(/account/avatars/(\d{1,10})\.png)", bind(&Private::onAvatar));
    s.Get("/account/api/Orvel/LauncherArtwork", bind(&Private::onArtworkAddress));
    s.Get(R"(/account/artwork/([^/]+))", bind(&Private::onArtwork));

    s.set_pre_routing_handler([](Req req, Res) {
        t_requestStart = std::chrono::steady_clock::now();
        // The library of this platform answers a range with status 200 and does not keep it within the body:
        // downloads answer ranges themselves. The request is the server's own, not a constant object.
        const_cast<httplib::Request&>(req).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_error_handler([](Req, Res res) {
        if (res.body.empty() && !res.content_provider_)
            answerText(res, res.status, QStringLiteral("%1\n").arg(QLatin1String(reasonPhrase(res.status))));
    });
    s.set_exception_handler(
        [](Req, Res res, std::exception_ptr) { answerText(res, 500, QStringLiteral("Internal error.\n")); });
    s.set_logger([this](Req req, const httplib::Response& res) { logRequest(req, res); });
}

DevService::DevService(const Options& options, std::shared_ptr<const BuildCatalog> catalog)
    : d(new Private(options, std::move(catalog)))
{}

DevService::~DevService() = default;

bool DevService::start(QString* error)
{
    if (!QDir().mkpath(d->options.stateFolder)) {
        *error = QStringLiteral("cannot create the state folder %1").arg(d->options.stateFolder);
        return false;
    }
    // The operator's certificate replaces the service's own authority and certificate.
    const bool bOwnCertificate = d->options.tlsCertificate.isEmpty();
    if (bOwnCertificate && !d->certificates.ensure(error))
        return false;
    const QString certificate = bOwnCertificate ? d->certificates.serverCertificatePath() : d->options.tlsCertificate;
    const QString key = bOwnCertificate ? d->certificates.serverKeyPath() : d->options.tlsKey;
    if (!d->signer.loadOrCreateSecret(QDir(d->options.stateFolder).absoluteFilePath(QStringLiteral("token-secret")),
                                      error))
        return false;
    const bool bOwnSigningKey = d->options.signKeyFile.isEmpty();
    const QString signingKey = bOwnSigningKey
                                   ? QDir(d->options.stateFolder).absoluteFilePath(QStringLiteral("manifest-key.pem"))
                                   : d->options.signKeyFile;
    if (!d->manifestSigner.load(signingKey, bOwnSigningKey, error))
        return false;

    if (d->options.artworkFile.isEmpty()) {
        d->artwork = PngImage::artwork();
        d->artworkName = QStringLiteral("background.png");
    } else {
        QFile file(d->options.artworkFile);
        if (file.size() > kMaxArtworkSize || !file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot use %1 as artwork (unreadable or larger than 32 MiB)")
                         .arg(d->options.artworkFile);
            return false;
        }
        d->artwork = file.readAll();
        const QString suffix = QFileInfo(d->options.artworkFile).suffix().toLower();
        d->artworkName = suffix.isEmpty() ? QStringLiteral("background") : QStringLiteral("background.") + suffix;
    }

    d->server =
        std::make_unique<HttpsServer>(QFile::encodeName(certificate).constData(), QFile::encodeName(key).constData());
    if (!d->server->is_valid()) {
        *error = QStringLiteral("cannot set up TLS with %1 and %2").arg(certificate, key);
        return false;
    }
    // The launcher opens up to 16 keep-alive connections at once; the library's default pool would serialise them.
    const int threads = d->options.workerThreads;
    d->server->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    d->server->set_tcp_nodelay(true);
    d->server->set_keep_alive_max_count(1000);
    d->server->set_keep_alive_timeout(10);
    d->server->set_read_timeout(30);
    d->server->set_write_timeout(30);
    d->server->set_payload_max_length(kMaxBodySize);
    d->route();

    const std::string host = utf8(d->options.host);
    if (d->options.port == 0) {
        d->boundPort = d->server->bind_to_any_port(host);
    } else if (d->server->bind_to_port(host, d->options.port)) {
        d->boundPort = d->options.port;
    }
    if (d->boundPort <= 0 || !d->server->widenBacklog()) {
        *error = QStringLiteral("cannot listen on %1 port %2").arg(d->options.host).arg(d->options.port);
        return false;
    }
    return true;
}

bool DevService::run()
{
    return d->server && d->server->listen_after_bind();
}

void DevService::stop()
{
    if (d->server)
        d->server->stop();
}

void DevService::replaceCatalog(std::shared_ptr<const BuildCatalog> catalog)
{
    std::lock_guard<std::mutex> lock(d->catalogMutex);
    d->m_catalog = std::move(catalog);
}

int DevService::port() const
{
    return d->boundPort;
}

QString DevService::origin() const
{
    return d->origin();
}

QString DevService::caCertificatePath() const
{
    return d->options.tlsCertificate.isEmpty() ? d->certificates.caCertificatePath() : QString();
}

QString DevService::manifestPublicKey() const
{
    return d->manifestSigner.publicKeyBase64();
}
