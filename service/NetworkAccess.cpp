#include "NetworkAccess.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QThread>
#include <QThreadStorage>

namespace {
QThreadStorage<QPointer<QNetworkAccessManager>>& managers()
{
    static QThreadStorage<QPointer<QNetworkAccessManager>> storage;
    return storage;
}
} // namespace

void NetworkAccess::clearThreadConnections()
{
    if (managers().hasLocalData() && managers().localData())
        managers().localData()->clearConnectionCache();
}

QNetworkAccessManager* NetworkAccess::threadManager()
{
    QPointer<QNetworkAccessManager>& manager = managers().localData();
    if (manager)
        return manager;
    QCoreApplication* app = QCoreApplication::instance();
    if (app && app->thread() == QThread::currentThread()) {
        // Released with the application object, while the network layer still exists.
        manager = new QNetworkAccessManager(app);
    } else {
        manager = new QNetworkAccessManager;
        QNetworkAccessManager* own = manager;
        // Emitted in the ending thread itself, after its last event.
        QObject::connect(
            QThread::currentThread(), &QThread::finished, own, [own] { delete own; }, Qt::DirectConnection);
    }
    return manager;
}
