// The part's DASH play information as the session reads it for the page, the switch and the
// caching: what the account client answers reaches the caller unchanged, its error included.
#include "ScriptedMedia.h"

#include "account/KRAccountClient.h"
#include "model/KRVideo.h"
#include "support/PlaybackFixtures.h"
#include "support/TestSupport.h"

namespace {

using testsupport::PlaybackFixtures;

class SessionPlayInformationTest : public playbacktest::ScriptedSessionTest {
protected:
    struct Answer {
        bool arrived = false;
        bool hasInfo = false;
        KROptionalError error;
    };
    static KRVideo video()
    {
        KRVideo part;
        part.setAid(testsupport::ServiceFixtures::kDetailAID);
        part.setBvid(testsupport::ServiceFixtures::detailBVID());
        part.setCid(testsupport::ServiceFixtures::kDetailCID);
        return part;
    }
    // The session's reading and the client's own answer to the same request.
    void readBoth(int quality, Answer& session, Answer& client)
    {
        session = {};
        client = {};
        QObject owner;
        KRPlaybackSession::loadDASHPlaybackInfoForVideo(video(), testsupport::ServiceFixtures::kDetailAID, quality, &owner,
                                                        [&](const std::optional<KRPlayInfo>& info, const KROptionalError& error) {
                                                            session = {true, info.has_value(), error};
                                                        });
        KR_WAIT_UNTIL(session.arrived);
        const KRVideo part = video();
        KRAccountClient::sharedClient()->loadDASHPlaybackInfoForAID(
            part.aid(), part.canonicalBVID(), part.cid(), quality, &owner,
            [&](const std::optional<QVariantMap>& info, const KROptionalError& error) { client = {true, info.has_value(), error}; });
        KR_WAIT_UNTIL(client.arrived);
    }
};

// An answer with its streams comes without an error; a refused one with the client's error.
TEST_F(SessionPlayInformationTest, TheAnswerReachesTheCallerWithTheClientsErrorUnchanged)
{
    Answer session, client;
    readBoth(PlaybackFixtures::kDASHQuality, session, client);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(client.hasInfo);
    EXPECT_TRUE(session.hasInfo);
    EXPECT_FALSE(session.error.has_value());

    play.setQualityFault(PlaybackFixtures::kDASHQuality, PlaybackFixtures::QualityFault::ServerError);
    readBoth(PlaybackFixtures::kDASHQuality, session, client);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(client.error.has_value()) << "the fixture's refusal is an error of the client";
    EXPECT_FALSE(session.hasInfo);
    ASSERT_TRUE(session.error.has_value()) << "the error was dropped on the way";
    EXPECT_EQ(session.error->domain(), client.error->domain());
    EXPECT_EQ(session.error->code(), client.error->code());
    EXPECT_EQ(session.error->message(), client.error->message());
}

} // namespace
