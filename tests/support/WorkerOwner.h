#pragma once

#include <QObject>

namespace OrvelTest {

// Owns request workers as the launcher window and the avatar widget do: raising its abortReply() cancels the
// requests of the workers it parents.
class WorkerOwner : public QObject
{
    Q_OBJECT

signals:
    void abortReply();
};

} // namespace OrvelTest
