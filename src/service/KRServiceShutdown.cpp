#include "service/KRServiceShutdown.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/UserDefaults.h"
#include "service/KRAPIClient.h"
#include "service/KRRequestPipeline.h"

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

    // Local history: its pending save is written here, after the queues and before user
    // defaults. The call KRLocalHistoryStore::flushPendingSaves() belongs on this line.

    platform::UserDefaults::standard().synchronize();
}
