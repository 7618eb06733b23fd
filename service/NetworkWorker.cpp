#include "NetworkWorker.h"

#include <cstdio>

#include <QEventLoop>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QNetworkAccessManager>
#include <QPointer>

#include "NetworkAccess.h"
#include "ServiceLogging.h"

namespace {
int s_defaultTransferTimeoutMs = NetworkWorker::DefaultTransferTimeoutMs;

NetworkWorker::ManagerFactory& managerFactory()
{
    static NetworkWorker::ManagerFactory factory;
    return factory;
}

// The TLS errors that refused a reply's server, kept on the reply until it is handled.
const char* const kSslErrorsProperty = "orvelSslErrors";

void registerMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<QNetworkReply*>("QNetworkReply*");
        qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
        qRegisterMetaType<QList<QSslError>>("QList<QSslError>");
        return true;
    }();
    Q_UNUSED(registered)
}
} // namespace

NetworkWorker::NetworkWorker(QObject* parent, bool async)
    : QObject(parent), m_async(async), m_ownsManager(bool(managerFactory())),
      m_manager(m_ownsManager ? managerFactory()(this) : NetworkAccess::threadManager()),
      m_transferTimeoutMs(s_defaultTransferTimeoutMs)
{
    registerMetaTypes();
}

NetworkWorker::~NetworkWorker()
{
    if (m_ownsManager) {
        // Replies still owned by the manager go with it, without signals.
        delete m_manager;
        return;
    }
    // The shared manager stays: this worker's requests end here, without reaching it. A synchronous wait still
    // running sees its reply finish and returns.
    for (QNetworkReply* reply : qAsConst(m_pendingReplies)) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void NetworkWorker::setDefaultTransferTimeout(int ms)
{
    s_defaultTransferTimeoutMs = ms;
}

int NetworkWorker::defaultTransferTimeout()
{
    return s_defaultTransferTimeoutMs;
}

void NetworkWorker::setManagerFactory(ManagerFactory factory)
{
    managerFactory() = std::move(factory);
}

QNetworkRequest NetworkWorker::withTimeout(const QNetworkRequest& request) const
{
    QNetworkRequest timed(request);
    if (timed.transferTimeout() == 0)
        timed.setTransferTimeout(m_transferTimeoutMs);
    return timed;
}

void NetworkWorker::post(const QNetworkRequest& request, const QByteArray& body)
{
    send(m_manager->post(withTimeout(request), body));
}

void NetworkWorker::get(const QNetworkRequest& request)
{
    send(m_manager->get(withTimeout(request)));
}

void NetworkWorker::send(QNetworkReply* reply)
{
    m_pendingReplies.append(reply);
    connectAbortSource(reply);
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    connect(reply, &QNetworkReply::errorOccurred, this, &NetworkWorker::onError);
#else
    connect(reply, QOverload<QNetworkReply::NetworkError>::of(&QNetworkReply::error), this, &NetworkWorker::onError);
#endif
    connect(reply, &QNetworkReply::sslErrors, this, &NetworkWorker::onSslErrors);

    if (m_async) {
        // The manager is shared: each worker listens to its own replies only.
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onReply(reply); });
        return;
    }

    // The nested loop lets other slots run; one of them may delete this worker (and with it the reply).
    QPointer<NetworkWorker> self(this);
    QPointer<QNetworkReply> guard(reply);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (self && guard)
        onReply(reply);
}

void NetworkWorker::connectAbortSource(QNetworkReply* reply)
{
    // The owner cancels its workers' requests by raising its own abortReply(); a parent without that signal
    // leaves the worker as its own abort source.
    QObject* source = this;
    QMetaMethod signal = QMetaMethod::fromSignal(&NetworkWorker::abortReply);
    if (QObject* owner = parent()) {
        const int index = owner->metaObject()->indexOfSignal("abortReply()");
        if (index >= 0) {
            source = owner;
            signal = owner->metaObject()->method(index);
        } else {
            qCDebug(lcService) << "abortReply() not declared by" << owner->metaObject()->className();
        }
    }
    const QMetaMethod abort = reply->metaObject()->method(reply->metaObject()->indexOfSlot("abort()"));
    connect(source, signal, reply, abort);
}

bool NetworkWorker::isSuccess() const
{
    return m_statusCode == QLatin1String("200");
}

QByteArray NetworkWorker::responseData() const
{
    return m_responseData;
}

QByteArray NetworkWorker::responseHeader(const QByteArray& name) const
{
    for (const QNetworkReply::RawHeaderPair& header : m_responseHeaders) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

QJsonDocument NetworkWorker::responseJson() const
{
    const QJsonDocument document = QJsonDocument::fromJson(m_responseData);
    if (document.isNull())
        qCDebug(lcService) << "Failed to Parse Json File";
    return document;
}

Failure NetworkWorker::lastFailure(LauncherError code) const
{
    if (m_failureDetail.isEmpty())
        return {};
    return {m_certificateRefused ? SslError : code, m_failureDetail};
}

void NetworkWorker::noteFailure(QNetworkReply* reply, const QString& reason)
{
    m_failureDetail =
        reply->url().toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery) + QStringLiteral(": ") + reason;
}

void NetworkWorker::abortAllReplies()
{
    // abort() finishes the reply at once, which (asynchronous mode) runs onReply and edits the list: walk a copy.
    const QList<QNetworkReply*> replies = m_pendingReplies;
    m_pendingReplies.clear();
    for (QNetworkReply* reply : replies) {
        // The reply being handled right now (a success handler may call this) has nothing left to cancel.
        if (!reply->isFinished())
            reply->abort();
    }
}

void NetworkWorker::onReply(QNetworkReply* _reply)
{
    if (!_reply)
        return;
    if (_reply->error() != QNetworkReply::NoError) {
        qCDebug(lcService).noquote() << _reply->errorString();
        // Errors from ContentAccessDenied on are Qt's names for 4xx/5xx answers: answers all the same, so their
        // status and body are kept. Lower codes (refused, closed, timed out, cancelled, SSL) mean no answer.
        if (_reply->error() >= QNetworkReply::ContentAccessDenied &&
            _reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            m_responseData = _reply->readAll();
            m_responseHeaders = _reply->rawHeaderPairs();
            handleReplyStatus(_reply);
        } else {
            // No answer at all. Forget the previous status so isSuccess() cannot report an earlier request.
            m_statusCode.clear();
            const QStringList sslErrors = _reply->property(kSslErrorsProperty).toStringList();
            m_certificateRefused = !sslErrors.isEmpty();
            noteFailure(_reply, m_certificateRefused ? sslErrors.join(QStringLiteral("; ")) : _reply->errorString());
            emit failure();
        }
    } else if (_reply->isReadable()) {
        m_responseData = _reply->readAll();
        m_responseHeaders = _reply->rawHeaderPairs();
        handleReplyStatus(_reply);
    } else {
        m_certificateRefused = false;
        noteFailure(_reply, QStringLiteral("no readable answer"));
        emit failure();
    }
    m_pendingReplies.removeOne(_reply);
    _reply->close();
    _reply->deleteLater();
    emit finished();
}

void NetworkWorker::handleReplyStatus(QNetworkReply* reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    m_certificateRefused = false;
    if (!status.isValid()) {
        noteFailure(reply, QStringLiteral("no HTTP status"));
        emit failure();
        return;
    }
    m_statusCode = status.toString();
    if (m_statusCode == QLatin1String("200")) {
        m_failureDetail.clear();
        emit success();
        return;
    }
    noteFailure(reply, QStringLiteral("HTTP ") + m_statusCode);
    qCDebug(lcService).noquote() << "error log: " + QString::fromUtf8(m_responseData);
    emit failure();
}

void NetworkWorker::onError(QNetworkReply::NetworkError _error)
{
    qCDebug(lcService) << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(_error);
    if (m_async)
        emit failure();
}

void NetworkWorker::onSslErrors(QList<QSslError> _errList)
{
    qCDebug(lcService) << _errList;
    if (auto* reply = qobject_cast<QNetworkReply*>(sender())) {
        QStringList texts;
        for (const QSslError& error : qAsConst(_errList))
            texts.append(error.errorString());
        reply->setProperty(kSslErrorsProperty, texts);
    }
    if (m_async)
        emit failure();
}

void NetworkWorker::onReplyHead(QNetworkReply* _reply)
{
    if (!_reply)
        return;
    for (const QNetworkReply::RawHeaderPair& header : _reply->rawHeaderPairs()) {
        const QString line =
            QString::fromLatin1(header.first) + QStringLiteral(" = ") + QString::fromUtf8(header.second);
        std::printf("%s\n", line.toLocal8Bit().constData());
    }
    if (_reply->hasRawHeader("Accept-Ranges")) {
        const QByteArray value = _reply->rawHeader("Accept-Ranges");
        qCDebug(lcService).noquote() << "Accept-Ranges = " + QString::fromUtf8(value)
                                     << (value.compare("bytes", Qt::CaseInsensitive) == 0 ? "true" : "false");
    }
    m_pendingReplies.removeOne(_reply);
    _reply->close();
    _reply->deleteLater();
}
