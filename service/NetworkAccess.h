#pragma once

class QNetworkAccessManager;

namespace NetworkAccess {

// The network manager of the calling thread, created on first use and shared by every request worker of that
// thread, so that requests to the same service reuse its connection and TLS session instead of each opening its
// own. The GUI thread's manager lives until the application object goes; another thread's until that thread ends.
QNetworkAccessManager* threadManager();

// Closes the calling thread's kept connections, so that the next requests open new ones with the process's current
// TLS settings (newly trusted authorities, say); nothing when the thread has no manager yet.
void clearThreadConnections();

} // namespace NetworkAccess
