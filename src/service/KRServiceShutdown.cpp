#include "service/KRServiceShutdown.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/DownloadConnection.h"
#include "service/KRAPIClient.h"
#include "service/KRRequestPipeline.h"
#include "store/KRLocalHistoryStore.h"

namespace {

// Every exchange and download ends at once, queued requests are dropped, and on return no
// worker has work left, whichever queue it came from.
void endServiceWork()
{
    KRRequestPipeline::close();
    platform::DownloadConnection::cancelAll();
    KRShutDownAPIWorkerQueue();
    // The pipeline's one-offs run on the pool too.
    platform::OperationQueue::waitUntilAllWorkIsFinished();
}

} // namespace

void KRShutDownServices()
{
    platform::assertMainThread("KRShutDownServices");
    static bool shutDown = false;
    if (shutDown)
        return;
    shutDown = true;

    endServiceWork();

    // The history's pending save, after the queues (nothing can change it any more) and
    // before user defaults.
    KRLocalHistoryStore::flushSharedStoreIfUsed();

    platform::UserDefaults::standard().synchronize();

    // A worker that has finished its work still holds its thread-locals (a kept parser, the
    // TLS library's per-thread state) until its thread ends.
    platform::OperationQueue::endWorkerThreads();
}

void KREndServiceWorkForTesting()
{
    platform::assertMainThread("KREndServiceWorkForTesting");
    endServiceWork();
    KRRequestPipeline::reopenForTesting();
}
