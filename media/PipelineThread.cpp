#include "PipelineThread.h"

#include <QDeadlineTimer>
#include <QThread>
#include <atomic>

namespace {

// How long the end of the program waits for the pipelines to close.
constexpr int ShutdownWaitMs = 300;

} // namespace

// The pipelines' side: the current connection, and its events passed on
// with its number.
class PipelineWorker : public QObject {
    Q_OBJECT
public:
    std::unique_ptr<StreamConnection> connection;
    quint64 id = 0;

signals:
    void Reported(quint64 id, const ConnectionEvent& event);
};

PipelineThread::PipelineThread(QObject* parent)
    : QObject(parent)
    , m_thread(new QThread)
    , m_worker(new PipelineWorker)
    , m_latest(std::make_shared<std::atomic<quint64>>(0))
{
    m_thread->setObjectName(QStringLiteral("sonvale-media"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &PipelineWorker::Reported, this, [this](quint64 id, const ConnectionEvent& event) {
        if (id == m_current)
            emit Reported(event);
    });
    m_thread->start();
}

PipelineThread::~PipelineThread()
{
    disconnect(m_worker, nullptr, this, nullptr);
    PipelineWorker* worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] {
        worker->connection.reset();
        QThread::currentThread()->quit();
    }, Qt::QueuedConnection);
    if (m_thread->wait(QDeadlineTimer(ShutdownWaitMs)))
        delete m_thread;
    // Else a pipeline is stuck in a stalled audio server: the thread is left
    // to it, and ends with the program.
}

void PipelineThread::Connect(const QUrl& address, const ConnectionSetup& setup, double gain)
{
    const quint64 id = m_latest->fetch_add(1) + 1;
    m_current = id;
    PipelineWorker* worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, id, latest = m_latest, address, setup, gain] {
        worker->connection.reset();
        // Commands that waited behind a stuck pipeline: only the newest
        // connection is worth opening.
        if (latest->load() != id)
            return;
        worker->id = id;
        worker->connection = std::make_unique<StreamConnection>(address, setup, gain);
        connect(worker->connection.get(), &StreamConnection::Reported, worker,
            [worker, id](const ConnectionEvent& event) { emit worker->Reported(id, event); });
        worker->connection->Start();
    }, Qt::QueuedConnection);
}

void PipelineThread::Close()
{
    if (!m_current)
        return;
    const quint64 id = m_current;
    m_current = 0;
    PipelineWorker* worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, id] {
        if (worker->id == id)
            worker->connection.reset();
    }, Qt::QueuedConnection);
}

void PipelineThread::Post(std::function<void(StreamConnection&)> command)
{
    if (!m_current)
        return;
    PipelineWorker* worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, id = m_current, command = std::move(command)] {
        if (worker->id == id && worker->connection)
            command(*worker->connection);
    }, Qt::QueuedConnection);
}

#include "PipelineThread.moc"
