#include "support/TestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>

using namespace platform;

TEST(NotificationCenter, DeliversByNameAndObjectInRegistrationOrderUntilTheTokenDies)
{
    NotificationCenter center;
    int sender = 0, otherSender = 0;
    QStringList log;
    auto any = center.addObserver("N", nullptr, [&](const Notification& n) { log << "any:" + n.userInfo.value("k").toString(); });
    auto bySender = center.addObserver("N", &sender, [&](const Notification& n) {
        EXPECT_EQ(n.object, &sender);
        log << "sender";
    });
    auto otherName = center.addObserver("M", nullptr, [&](const Notification&) { log << "M"; });
    center.post("N", &sender, {{"k", 1}});
    center.post("N", &otherSender, {{"k", 2}});
    EXPECT_EQ(log, QStringList({"any:1", "sender", "any:2"}));

    log.clear();
    bySender.reset();
    {
        ObserverToken moved = std::move(any);
        center.post("N", &sender);
    }
    center.post("N", &sender);
    EXPECT_EQ(log, QStringList{"any:"}) << "the moved-to token removed the observer when it died";
}

TEST(NotificationCenter, ObserversMayRemoveThemselvesAndOthersDuringDelivery)
{
    NotificationCenter center;
    int first = 0, second = 0, third = 0, late = 0;
    ObserverToken a, b, c, d;
    a = center.addObserver("X", nullptr, [&](const Notification&) {
        ++first;
        a.reset();  // itself
        c.reset();  // an observer later in this delivery
    });
    b = center.addObserver("X", nullptr, [&](const Notification&) {
        if (++second == 1)
            d = center.addObserver("X", nullptr, [&](const Notification&) { ++late; });
    });
    c = center.addObserver("X", nullptr, [&](const Notification&) { ++third; });
    center.post("X");
    EXPECT_EQ(std::tie(first, second, third, late), std::make_tuple(1, 1, 0, 0)) << "removed or added during it";
    center.post("X");
    EXPECT_EQ(std::tie(first, second, third, late), std::make_tuple(1, 2, 0, 1));
}

TEST(NotificationCenter, TokensOutliveTheirCentreAndPostsComeFromAnyThread)
{
    ObserverToken survivor;
    {
        NotificationCenter center;
        survivor = center.addObserver("Y", nullptr, [](const Notification&) {});
    }
    survivor.reset();  // must not touch the destroyed centre

    std::atomic_bool delivered{false}, onWorker{false};
    auto token = NotificationCenter::defaultCenter().addObserver("FromWorker", nullptr, [&](const Notification&) {
        onWorker = !isMainThread();
        delivered = true;
    });
    dispatchGlobal([] { NotificationCenter::defaultCenter().post("FromWorker"); });
    KR_WAIT_UNTIL(delivered.load());
    EXPECT_TRUE(onWorker.load()) << "observers run on the posting thread";
}
