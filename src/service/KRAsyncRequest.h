#pragma once

#include "platform/foundation/OwnedWork.h"
#include "service/KRRequestHandle.h"

#include <QObject>

#include <utility>

namespace platform {
class OperationQueue;
}

// The one way the system's code waits for a request off the main thread: owned work
// (platform::OwnedWork) on the request pipeline's one-off workers, which shutdown joins, or on a
// queue of the caller's, dropped also when the handle is cancelled. The work (the exchanges and
// the parsing of what they brought) runs on a worker, its result hops to the main thread, and
// the delivery runs there once, unless the owner has gone or the handle was cancelled by then.
// A worker that finds nobody waiting any more skips the work altogether.
//
//     KRAsyncRequest(owner).onQueue(queue).run(
//         [address](const KRAsyncRequest& request) { return parse(KRRequestPipeline::perform(…)); },
//         [completion](Parsed parsed) { completion(parsed); });
class KRAsyncRequest {
public:
    // A null owner stands for a caller that lives as long as the process.
    explicit KRAsyncRequest(QObject* owner = nullptr);

    // The queue the work runs on; without one, a one-off worker of the request pipeline.
    KRAsyncRequest& onQueue(platform::OperationQueue* queue);
    // A handle whose cancel() drops the delivery as the owner's going does.
    KRAsyncRequest& withHandle(KRRequestHandle handle);

    const KRRequestHandle& handle() const { return m_handle; }
    // Whether nobody waits for the result any more (any thread; final once true). Work that
    // makes several exchanges asks it between them.
    bool abandoned() const { return m_work.abandoned(); }

    // Runs `work(const KRAsyncRequest&)` on the worker and hands what it returns to
    // `deliver(result)` on the main thread. False when the work could not be queued (the
    // pipeline has closed): then neither runs, and both are released here.
    template <typename Work, typename Deliver>
    bool run(Work work, Deliver deliver) const
    {
        return m_work.runUnlessAbandoned(
            [request = *this, work = std::move(work)](const platform::OwnedWork&) mutable { return work(std::as_const(request)); },
            std::move(deliver));
    }

private:
    KRRequestHandle m_handle;
    platform::OwnedWork m_work;
};
