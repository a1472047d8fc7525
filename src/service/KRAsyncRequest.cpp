#include "service/KRAsyncRequest.h"

#include "service/KRRequestPipeline.h"

KRAsyncRequest::KRAsyncRequest(QObject* owner)
    : m_work(owner)
{
    m_work.startedBy(&KRRequestPipeline::runOneOff);
}

KRAsyncRequest& KRAsyncRequest::onQueue(platform::OperationQueue* queue)
{
    if (queue)
        m_work.onQueue(queue);
    else
        m_work.startedBy(&KRRequestPipeline::runOneOff);
    return *this;
}

KRAsyncRequest& KRAsyncRequest::withHandle(KRRequestHandle handle)
{
    m_handle = std::move(handle);
    m_work.cancelledBy([handle = m_handle] { return handle.isCancelled(); });
    return *this;
}
