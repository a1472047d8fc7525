#include "account/AccountClientTesting.h"

#include "support/InteractionFixtures.h"
#include "support/ServiceSignatures.h"

using namespace accounttest;
using testsupport::InteractionFixtures;

namespace {

using ActionCalls = Calls<bool, const QString&, const QVariant&>;
using ReadCalls = Calls<const QVariant&, const KROptionalError&>;
using FolderCalls = Calls<const QVariantMap&, const KROptionalError&>;

class InteractionRoutesTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        testsupport::routeNavigationFixture(fake);
        AccountFixtures::routeRiskCookies(fake);
        AccountFixtures::logInWebOnly();
    }
    InteractionFixtures interactions{fake};
};

} // namespace

TEST_F(InteractionRoutesTest, ThePrivateFolderAnsweredWithoutItsIDIsListedAndDealtWithAfterwards)
{
    interactions.setFolders({{11, QStringLiteral("默认收藏夹"), 3, false, {77}}, {12, QStringLiteral("音乐"), 1, false, {}}});
    interactions.setPrivateFolderAnsweredWithoutID(true);
    interactions.setNextFolderID(31);

    ActionCalls created;
    client()->createFavoriteFolderWithTitle(QStringLiteral("  测试 "), true, nullptr, created.recorder());
    const auto [createdOK, createdMessage, createdData] = created.awaitOne();
    EXPECT_TRUE(createdOK);
    EXPECT_FALSE(createdData.toMap().contains(QStringLiteral("id")));
    EXPECT_FALSE(createdData.toMap().contains(QStringLiteral("fid")));
    EXPECT_EQ(createdData.toMap().value(QStringLiteral("title")).toString(), QStringLiteral("测试"));

    FolderCalls listed;
    client()->loadFavoriteFoldersForAID(77, nullptr, listed.recorder());
    const auto [result, listError] = listed.awaitOne();
    ASSERT_FALSE(listError);
    const QVariantList folders = result.value(QStringLiteral("folders")).toList();
    ASSERT_EQ(folders.size(), 3);
    EXPECT_EQ(folders[0].toMap().value(QStringLiteral("fav_state")).toInt(), 1);
    EXPECT_EQ(folders[2].toMap().value(QStringLiteral("title")).toString(), QStringLiteral("测试"));
    EXPECT_EQ(KRAccountFavoriteMediaID(folders[2]), 31);

    ActionCalls dealt;
    client()->updateFavoriteForAID(77, {31}, {11}, nullptr, dealt.recorder());
    EXPECT_TRUE(std::get<0>(dealt.awaitOne()));
    const FakeRequest deal = fake.requestsTo(QStringLiteral("/x/v3/fav/resource/deal")).first();
    EXPECT_EQ(AccountFixtures::formValue(deal, QStringLiteral("add_media_ids")), QStringLiteral("31"));
    EXPECT_EQ(AccountFixtures::formValue(deal, QStringLiteral("del_media_ids")), QStringLiteral("11"));
    const QList<InteractionFixtures::Folder> after = interactions.folders();
    EXPECT_FALSE(after[0].aids.contains(77));
    EXPECT_EQ(after[0].mediaCount, 2);
    EXPECT_TRUE(after[2].aids.contains(77));

    // A public folder keeps its id in the answer.
    ActionCalls open;
    client()->createFavoriteFolderWithTitle(QStringLiteral("公开"), false, nullptr, open.recorder());
    EXPECT_EQ(std::get<2>(open.awaitOne()).toMap().value(QStringLiteral("id")).toLongLong(), 32);
}

TEST_F(InteractionRoutesTest, EachActionSucceedsOrBringsTheServersMessage)
{
    ActionCalls like;
    client()->setLike(true, 77, nullptr, like.recorder());
    EXPECT_TRUE(std::get<0>(like.awaitOne()));
    EXPECT_TRUE(interactions.liked(77));

    ReadCalls relation;
    client()->loadArchiveRelationForAID(77, nullptr, relation.recorder());
    const auto [archive, archiveError] = relation.awaitOne();
    ASSERT_FALSE(archiveError);
    EXPECT_TRUE(archive.toMap().value(QStringLiteral("like")).toBool());
    EXPECT_EQ(archive.toMap().value(QStringLiteral("coin")).toInt(), 0);

    interactions.refuse(QStringLiteral("/x/web-interface/coin/add"), 34002, QStringLiteral("不能给自己投币哦"));
    ActionCalls coin;
    client()->addCoinForAID(77, 1, false, nullptr, coin.recorder());
    const auto [coinOK, coinMessage, coinData] = coin.awaitOne();
    EXPECT_FALSE(coinOK);
    EXPECT_TRUE(coinMessage.contains(QStringLiteral("不能给自己投币哦"))) << coinMessage.toStdString();
    EXPECT_EQ(interactions.coinsGiven(77), 0);

    ActionCalls triple;
    client()->tripleForAID(78, nullptr, triple.recorder());
    const auto [tripleOK, tripleMessage, tripleData] = triple.awaitOne();
    EXPECT_TRUE(tripleOK);
    EXPECT_EQ(tripleData.toMap().value(QStringLiteral("multiply")).toInt(), 2);
    EXPECT_EQ(interactions.coinsGiven(78), 2);

    ActionCalls follow;
    client()->setFollowing(true, 900, nullptr, follow.recorder());
    EXPECT_TRUE(std::get<0>(follow.awaitOne()));
    ReadCalls uploader;
    client()->loadRelationForMID(900, nullptr, uploader.recorder());
    EXPECT_EQ(std::get<0>(uploader.awaitOne()).toMap().value(QStringLiteral("attribute")).toInt(), 2);
    interactions.refuse(QStringLiteral("/x/relation/modify"), 22009, QStringLiteral("关注已达上限"));
    ActionCalls refusedFollow;
    client()->setFollowing(true, 901, nullptr, refusedFollow.recorder());
    const auto [followOK, followMessage, followData] = refusedFollow.awaitOne();
    EXPECT_FALSE(followOK);
    EXPECT_TRUE(followMessage.contains(QStringLiteral("关注已达上限"))) << followMessage.toStdString();
    EXPECT_FALSE(interactions.following(901));
}

TEST_F(InteractionRoutesTest, SharingAndDanmakuReachTheirRoutesAndARefusalNamesWhy)
{
    ActionCalls shared;
    client()->shareVideoAID(77, QStringLiteral("BV1xx411c7mD"), QStringLiteral("好看"), nullptr, shared.recorder());
    EXPECT_TRUE(std::get<0>(shared.awaitOne()));
    EXPECT_EQ(interactions.sharedTexts(), QList<QString>{QStringLiteral("好看")});

    interactions.refuse(QStringLiteral("/dynamic_repost/v1/dynamic_repost/share"), 4126046, QStringLiteral("转发内容过长"));
    ActionCalls refused;
    client()->shareVideoAID(77, QStringLiteral("BV1xx411c7mD"), QStringLiteral("再来"), nullptr, refused.recorder());
    const auto [shareOK, shareMessage, shareData] = refused.awaitOne();
    EXPECT_FALSE(shareOK);
    EXPECT_TRUE(shareMessage.contains(QStringLiteral("转发内容过长"))) << shareMessage.toStdString();
    EXPECT_EQ(interactions.sharedTexts().size(), 1);

    ActionCalls posted;
    client()->postDanmaku(QStringLiteral("前方高能"), 501, 77, 12500, nullptr, posted.recorder());
    const auto [postOK, postMessage, postData] = posted.awaitOne();
    EXPECT_TRUE(postOK) << postMessage.toStdString();
    EXPECT_EQ(interactions.postedDanmaku(), QList<QString>{QStringLiteral("前方高能")});

    interactions.refuse(QStringLiteral("/x/v2/dm/post"), 36703, QStringLiteral("弹幕发送过快"));
    ActionCalls fast;
    client()->postDanmaku(QStringLiteral("再发"), 501, 77, 13000, nullptr, fast.recorder());
    const auto [fastOK, fastMessage, fastData] = fast.awaitOne();
    EXPECT_FALSE(fastOK);
    EXPECT_TRUE(fastMessage.contains(QStringLiteral("弹幕发送过快"))) << fastMessage.toStdString();

    // Signed out, every route refuses before doing anything.
    KRSessionStore::sharedStore().clearSession();
    interactions.refuse(QStringLiteral("/x/v2/dm/post"), 0, {});
    ActionCalls signedOut;
    client()->setFollowing(true, 902, nullptr, signedOut.recorder());
    EXPECT_FALSE(std::get<0>(signedOut.awaitOne()));
    EXPECT_FALSE(interactions.following(902));
}
