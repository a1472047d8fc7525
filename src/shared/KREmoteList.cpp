#include "shared/KREmoteList.h"

#include "account/KRAccountClient.h"
#include "shared/KRDynamicComposerView.h"

void KREmoteList::loadIfNeeded(QObject* owner, std::function<void()> ready)
{
    if (!m_items.isEmpty()) {
        ready();
        return;
    }
    if (m_loading)
        return;
    m_loading = true;
    // `owner` is the holder or what holds it: no answer reaches a list that has gone.
    KRAccountClient::sharedClient()->loadReplyEmotePackages(
        owner, [this, ready = std::move(ready)](const QVariant& data, const KROptionalError& error) {
            m_loading = false;
            if (error)
                return;
            m_items = KREmotePanelItemsFromPackages(data);
            ready();
        });
}
