#include "support/TestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>

using namespace platform;

TEST(NotificationCenter, DeliversByNameAndObjectInRegistrationOrder)
{
    NotificationCenter center;
    int sender = 0, otherSender = 0;
    QStringList log;
    auto any = center.addObserver(QStringLiteral("N"), nullptr, [&](const Notification& n) {
        log << QStringLiteral("any:") + n.userInfo.value(QStringLiteral("k")).toString();
    });
    auto bySender = center.addObserver(QStringLiteral("N"), &sender, [&](const Notification& n) {
        EXPECT_EQ(n.object, &sender);
        EXPECT_EQ(n.name, QStringLiteral("N"));
        log << QStringLiteral("sender");
    });
    auto otherName = center.addObserver(QStringLiteral("M"), nullptr, [&](const Notification&) { log << QStringLiteral("M"); });

    center.post(QStringLiteral("N"), &sender, {{QStringLiteral("k"), 1}});
    center.post(QStringLiteral("N"), &otherSender, {{QStringLiteral("k"), 2}});
    center.post(QStringLiteral("N"));
    EXPECT_EQ(log, (QStringList{QStringLiteral("any:1"), QStringLiteral("sender"), QStringLiteral("any:2"), QStringLiteral("any:")}));

    log.clear();
    bySender.reset();
    EXPECT_FALSE(bySender.isActive());
    {
        ObserverToken moved = std::move(any);
        EXPECT_FALSE(any.isActive());
        center.post(QStringLiteral("N"), &sender);
        EXPECT_EQ(log, QStringList{QStringLiteral("any:")});
    }
    center.post(QStringLiteral("N"), &sender);
    EXPECT_EQ(log, QStringList{QStringLiteral("any:")}) << "the moved-to token removed the observer when it died";
}

TEST(NotificationCenter, ObserversMayRemoveThemselvesAndOthersDuringDelivery)
{
    NotificationCenter center;
    int first = 0, second = 0, third = 0, late = 0;
    ObserverToken a, b, c, d;
    a = center.addObserver(QStringLiteral("X"), nullptr, [&](const Notification&) {
        ++first;
        a.reset();  // itself
        c.reset();  // an observer later in this delivery
    });
    b = center.addObserver(QStringLiteral("X"), nullptr, [&](const Notification&) {
        ++second;
        if (second == 1)
            d = center.addObserver(QStringLiteral("X"), nullptr, [&](const Notification&) { ++late; });
    });
    c = center.addObserver(QStringLiteral("X"), nullptr, [&](const Notification&) { ++third; });

    center.post(QStringLiteral("X"));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 0) << "removed before its turn";
    EXPECT_EQ(late, 0) << "added during the delivery";

    center.post(QStringLiteral("X"));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(late, 1);
}

TEST(NotificationCenter, TokensOutliveTheirCentreAndPostsComeFromAnyThread)
{
    ObserverToken survivor;
    {
        NotificationCenter center;
        survivor = center.addObserver(QStringLiteral("Y"), nullptr, [](const Notification&) {});
    }
    survivor.reset();  // must not touch the destroyed centre

    std::atomic_bool delivered{false}, onWorker{false};
    auto token = NotificationCenter::defaultCenter().addObserver(QStringLiteral("FromWorker"), nullptr,
                                                                 [&](const Notification&) {
                                                                     onWorker = !isMainThread();
                                                                     delivered = true;
                                                                 });
    dispatchGlobal([] { NotificationCenter::defaultCenter().post(QStringLiteral("FromWorker")); });
    KR_WAIT_UNTIL(delivered.load());
    EXPECT_TRUE(onWorker.load()) << "observers run on the posting thread";
}
