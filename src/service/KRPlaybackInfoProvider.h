#pragma once

#include "model/KRError.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

// The play-information dictionary of the identity-bound routes: the service's object plus
// "_kr_auth_family", the route that answered.
using KRPlaybackInfo = QVariantMap;
using KRPlaybackInfoCompletion = std::function<void(const std::optional<KRPlaybackInfo>&, const KROptionalError&)>;

// The identity-bound play-information routes as the web-API client's play-address chain
// sees them. The account client, which sits above this layer, provides them when it is
// created; without a provider the chain keeps to its web routes. The owner is the chain's
// caller's, handed on to every request of the route.
class KRPlaybackInfoProvider {
public:
    virtual ~KRPlaybackInfoProvider() = default;
    // Progressive play information of an archive part (the account route).
    virtual void loadPlaybackInfoForAID(qint64 aid, const QString& bvid, qint64 cid, qint32 quality, QObject* owner,
                                        KRPlaybackInfoCompletion completion) = 0;
    // Progressive play information of a series episode (the app series route).
    virtual void loadPGCProgressivePlaybackInfoForEpisodeID(qint64 episodeID, qint64 aid, const QString& bvid, qint64 cid,
                                                            qint32 quality, QObject* owner,
                                                            KRPlaybackInfoCompletion completion) = 0;

    // Main thread.
    static KRPlaybackInfoProvider* installed();
    static void install(KRPlaybackInfoProvider* provider);
};
