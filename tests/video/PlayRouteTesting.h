#pragma once

// What tests of the play routes share: a client test on the fake service with the playback
// fixtures installed and silent sound, the play-information requests, and a transport's
// finishes by reason.
#include "account/AccountClientTesting.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaSeams.h"
#include "playback/KRPlaybackTransport.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceFixtures.h"

#include <optional>

namespace videotest {

using InfoCalls = accounttest::Calls<const std::optional<KRPlaybackInfo>&, const KROptionalError&>;

class PlayRouteTest : public accounttest::AccountClientTest {
protected:
    static constexpr qint64 kAID = testsupport::ServiceFixtures::kDetailAID;
    static constexpr qint64 kCID = testsupport::ServiceFixtures::kDetailCID;

    void SetUp() override
    {
        AccountClientTest::SetUp();
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    }
    // Asks without waiting; the answer lands in `calls`.
    void askDASH(qint32 quality, InfoCalls& calls, qint64 cid = kCID)
    {
        client()->loadDASHPlaybackInfoForAID(kAID, testsupport::ServiceFixtures::detailBVID(), cid, quality, nullptr, calls.recorder());
    }
    void askProgressive(qint32 quality, InfoCalls& calls, qint64 cid = kCID)
    {
        client()->loadPlaybackInfoForAID(kAID, testsupport::ServiceFixtures::detailBVID(), cid, quality, nullptr, calls.recorder());
    }
    std::optional<KRPlaybackInfo> dashInfo(qint32 quality, KROptionalError* errorOut = nullptr, qint64 cid = kCID)
    {
        InfoCalls calls;
        askDASH(quality, calls, cid);
        return awaitInfo(calls, errorOut);
    }
    std::optional<KRPlaybackInfo> progressiveInfo(qint32 quality, KROptionalError* errorOut = nullptr, qint64 cid = kCID)
    {
        InfoCalls calls;
        askProgressive(quality, calls, cid);
        return awaitInfo(calls, errorOut);
    }

    testsupport::PlaybackFixtures play{fake};

private:
    static std::optional<KRPlaybackInfo> awaitInfo(InfoCalls& calls, KROptionalError* errorOut)
    {
        const auto [info, error] = calls.awaitOne();
        if (errorOut)
            *errorOut = error;
        return info;
    }
};

// Every finish of a transport, by reason.
struct Finishes {
    explicit Finishes(KRPlaybackTransport* transport)
        : token(platform::NotificationCenter::defaultCenter().addObserver(
              platform::media::MoviePlayerPlaybackDidFinishNotification, transport, [this](const platform::Notification& n) {
                  reasons.append(n.userInfo.value(platform::media::MoviePlayerPlaybackDidFinishReasonUserInfoKey).toInt());
              }))
    {
    }
    QList<int> reasons;
    platform::ObserverToken token;
};

} // namespace videotest
