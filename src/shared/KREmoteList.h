#pragma once

#include <QList>
#include <QObject>
#include <QVariantMap>

#include <functional>

// One emote the panels offer: {"text": the token, "url": its picture}.
using KREmotePanelItem = QVariantMap;

// The emotes of the reply emote packages as one composer holds them: asked for when first
// wanted, one request at a time; a failed answer leaves the list empty, so the next wish asks
// again. Kept for the holder's life unless cleared.
class KREmoteList {
public:
    const QList<KREmotePanelItem>& items() const { return m_items; }
    bool isEmpty() const { return m_items.isEmpty(); }
    bool isLoading() const { return m_loading; }
    void clear() { m_items.clear(); }
    // `ready` runs at once when the list is in hand, else once it has arrived (not after a
    // failure); never after `owner` has gone.
    void loadIfNeeded(QObject* owner, std::function<void()> ready);

private:
    QList<KREmotePanelItem> m_items;
    bool m_loading = false;
};
