#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// Runs operations on worker threads: started in the order they were added, at most
// maxConcurrentOperationCount at once. Thread-safe. Destroying a queue drops the operations
// not yet started and waits for the running ones, so a running operation must not wait for
// the thread that destroys its queue (dispatchMainSync while the main thread destroys it).
class OperationQueue {
public:
    explicit OperationQueue(int maxConcurrentOperationCount = 1, QString name = {});
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void addOperation(std::function<void()> operation);
    int maxConcurrentOperationCount() const;
    QString name() const;
    // Queued plus running.
    int operationCount() const;
    // Drops the queued operations that have not started; running ones finish.
    void cancelAllOperations();
    // Blocks until nothing is queued or running (an operation of this queue calling it does
    // not wait for itself). For tests and shutdown; never from the main thread in product code.
    void waitUntilAllOperationsAreFinished();

    // A queue of its own for one operation, gone when the operation ends.
    static void runOnce(std::function<void()> operation);

    // Every queue and runOnce share one pool of worker threads. Blocks until no operation of
    // any of them is queued or running. For tests and shutdown, never from a worker.
    static void waitUntilAllWorkIsFinished();
    // At the end of the process, on the main thread, once nothing will add work: waits as
    // waitUntilAllWorkIsFinished does, then ends every worker thread and joins it, so that
    // none outlives main with what its thread-locals hold. Work added later starts new threads.
    static void endWorkerThreads();

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace platform
