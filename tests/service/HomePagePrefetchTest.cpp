#include "service/ServiceClientTesting.h"

#include <chrono>
#include <thread>

using namespace servicetest;

namespace {

const QString kFeed = QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd");
const QString kPopular = QStringLiteral("/x/web-interface/popular");
const QString kNavigation = QStringLiteral("/x/web-interface/nav");

class HomePagePrefetchTest : public ServiceClientTest {
protected:
    OutcomeRef<KRVideoList> askHome(qint64 page, QObject* owner = liveOwner())
    {
        return begin<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(page, owner, done); });
    }
    // Waits without turning the main thread: a request that needs a main-thread step before
    // it is sent never comes.
    bool arrivesWhileTheMainThreadWaits(const QString& path)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!requestsTo(path).isEmpty())
                return true;
            std::this_thread::yield();
        }
        return false;
    }
    static void settleQueue()
    {
        testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    // Sorted: requests on their way together reach the service in either order.
    QStringList freshIndexes() const
    {
        QStringList fresh;
        for (const FakeRequest& request : requestsTo(kFeed))
            fresh.append(request.queryValue(QStringLiteral("fresh_idx")));
        fresh.sort();
        return fresh;
    }
};

TEST_F(HomePagePrefetchTest, KeyFetchSigningAndListAreOneWorkerStep)
{
    ConsoleCapture console;
    const auto outcome = begin<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(1, liveOwner(), done); });
    ASSERT_TRUE(arrivesWhileTheMainThreadWaits(kFeed));
    EXPECT_EQ(requestsTo(kNavigation).size(), 1);
    EXPECT_EQ(outcome->calls, 0) << "answered only once the main thread turns";
    settle(outcome);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.size(), 18);

    // The console tells the same story in the same order as before.
    const QString text = console.text();
    const qsizetype navigation = text.indexOf(QStringLiteral("[Korvane] request scheme=https host=") + KRServiceHosts::apiHost()
                                              + QStringLiteral(" path=/x/web-interface/nav"));
    const qsizetype feed = text.indexOf(QStringLiteral("[KorvaneRecommendation] request page=1 fresh=1 loggedIn=NO endpoint=web-wbi-rcmd"));
    const qsizetype answer = text.indexOf(QStringLiteral("[KorvaneRecommendation] response status=200 raw=20 videos=18"));
    ASSERT_GE(navigation, 0);
    EXPECT_LT(navigation, feed);
    EXPECT_LT(feed, answer);

    // With the key fresh, the chain asks for the list alone.
    const auto again = run<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(again->error);
    EXPECT_EQ(requestsTo(kNavigation).size(), 1);
    EXPECT_EQ(requestsTo(kFeed).size(), 2);
}

TEST_F(HomePagePrefetchTest, AKeyThatCannotBeHadEndsTheChainWithItsError)
{
    serve(kNavigation, FakeReply::json(testsupport::navigationReplyWithImages(QStringLiteral("abc"), QStringLiteral("def"))));
    const auto outcome = run<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(1, liveOwner(), done); });
    expectError(outcome->error, -6);
    EXPECT_TRUE(requestsTo(kFeed).isEmpty());
}

TEST_F(HomePagePrefetchTest, TheFirstAskTakesThePrefetchStillOnItsWay)
{
    client()->prefetchRecommendedHomePage();
    // In the same turn of the main thread: the answer cannot have come yet.
    const auto taken = askHome(1);
    settle(taken);
    ASSERT_FALSE(taken->error);
    EXPECT_EQ(taken->value.size(), 18);
    EXPECT_EQ(requestsTo(kFeed).size(), 1) << "the ask made no request of its own";
    EXPECT_EQ(requestsTo(kNavigation).size(), 1);

    // It is taken once: the next ask, a reset, is a new batch.
    const auto reset = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(reset->error);
    EXPECT_NE(aidsOf(reset->value), aidsOf(taken->value));
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2"}));
}

TEST_F(HomePagePrefetchTest, AnArrivedPrefetchIsHandedOverLaterNotInsideTheAsk)
{
    client()->prefetchRecommendedHomePage();
    KR_WAIT_UNTIL(requestsTo(kFeed).size() == 1);
    settleQueue();

    bool answeredInside = true;
    const auto taken = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); }, &answeredInside);
    EXPECT_FALSE(answeredInside);
    ASSERT_FALSE(taken->error);
    EXPECT_EQ(taken->value.size(), 18);
    EXPECT_EQ(requestsTo(kFeed).size(), 1);

    // A second prefetch while none is pending starts one; asking twice takes it once.
    client()->prefetchRecommendedHomePage();
    client()->prefetchRecommendedHomePage();
    const auto first = askHome(1);
    const auto second = askHome(1);
    settle(first);
    settle(second);
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2", "3"}));
    EXPECT_NE(aidsOf(first->value), aidsOf(second->value));
}

TEST_F(HomePagePrefetchTest, AFailedPrefetchTakesTheFallbackAndThenTheListsFailure)
{
    serve(kFeed, ServiceFixtures::serverFailure());
    ConsoleCapture console;
    client()->prefetchRecommendedHomePage();
    const auto fallback = askHome(1);
    settle(fallback);
    ASSERT_FALSE(fallback->error);
    EXPECT_EQ(fallback->value.size(), 20);
    EXPECT_EQ(requestsTo(kFeed).size(), 1);
    EXPECT_EQ(requestsTo(kPopular).size(), 1);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] current feed failed page=1")));

    // Both roads failing: the asker gets the error, once.
    serve(kPopular, ServiceFixtures::serverFailure());
    client()->prefetchRecommendedHomePage();
    KR_WAIT_UNTIL(requestsTo(kFeed).size() == 2);
    settleQueue();
    const auto failed = askHome(1);
    settle(failed);
    expectError(failed->error, 500);
    EXPECT_TRUE(failed->value.isEmpty());
    EXPECT_EQ(requestsTo(kFeed).size(), 2);
}

TEST_F(HomePagePrefetchTest, AnotherFirstAskDropsThePrefetchAndItsLateAnswer)
{
    client()->prefetchRecommendedHomePage();
    const auto later = askHome(2);
    settle(later);
    EXPECT_FALSE(later->error);
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2"}));

    // The dropped first page is never handed to the next ask, which is a batch of its own.
    const auto first = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(first->error);
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2", "3"}));
}

TEST_F(HomePagePrefetchTest, ATakerThatIsGoneGetsNothing)
{
    auto* owner = new QObject;
    client()->prefetchRecommendedHomePage();
    const auto taken = askHome(1, owner);
    delete owner;
    KR_WAIT_UNTIL(requestsTo(kFeed).size() == 1);
    settleQueue();
    EXPECT_EQ(taken->calls, 0);

    const auto next = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(next->error);
    EXPECT_EQ(requestsTo(kFeed).size(), 2);
}

} // namespace
