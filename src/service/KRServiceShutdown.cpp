#include "service/KRServiceShutdown.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "service/KRAPIClient.h"
#include "service/KRRequestPipeline.h"
#include "store/KRLocalHistoryStore.h"

void KRShutDownServices()
{
    platform::assertMainThread("KRShutDownServices");
    static bool shutDown = false;
    if (shutDown)
        return;
    shutDown = true;

    KRRequestPipeline::close();
    KRShutDownAPIWorkerQueue();
    KRRequestPipeline::waitForOneOffs();

    // The history's pending save, after the queues (nothing can change it any more) and
    // before user defaults.
    KRLocalHistoryStore::flushSharedStoreIfUsed();

    platform::UserDefaults::standard().synchronize();
}
