#pragma once

#include "ConnectionEvent.h"
#include "StreamConnection.h"

#include <QObject>
#include <functional>
#include <memory>

class QThread;
class PipelineWorker;

// The one owner of the pipelines, on a thread of its own: every GStreamer
// call that may wait (a state change, a sink swap, a teardown, the audio
// server's answer) runs there, never on the UI thread. Calls post a command
// and return at once; the current connection's events come back through
// Reported, on the UI thread, and those of a connection already replaced are
// dropped. A pipeline stuck in a stalled audio server holds up only the
// commands behind it, and is abandoned, never waited for, at the end.
class PipelineThread : public QObject {
    Q_OBJECT
public:
    explicit PipelineThread(QObject* parent = nullptr);
    ~PipelineThread() override;

    // A new connection in place of the current one (closed first).
    void Connect(const QUrl& address, const ConnectionSetup& setup, double gain);
    void Close();
    // Runs `command` on the current connection, on the pipelines' thread;
    // nothing if it has been replaced or closed by then.
    void Post(std::function<void(StreamConnection&)> command);

signals:
    void Reported(const ConnectionEvent& event);

private:
    QThread* m_thread;
    PipelineWorker* m_worker;                      // lives on m_thread
    std::shared_ptr<std::atomic<quint64>> m_latest; // the newest connection asked for
    quint64 m_current = 0;                          // the connection whose events count; 0: none
};
