#include "service/ServiceClientTesting.h"

#include "service/KRDanmakuClient.h"
#include "model/KRDanmakuXMLParser.h"

#include <zlib.h>

using namespace servicetest;

namespace {

const QByteArray kDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat</chatserver><chatid>279786</chatid>"
    "<d p=\"12.5,1,25,16777215,1700000000,0,5e1f2a,101\">第一条</d>"
    "<d p=\"3.25,5,18,255,1700000001,0,77aa00,102\">second</d></i>";
const QString kListPath = QStringLiteral("/x/v1/dm/list.so");

// windowBits -15 raw deflate, 15 zlib, 31 gzip.
QByteArray compress(const QByteArray& data, int windowBits)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

FakeReply xmlReply(const QByteArray& body, int status = 200)
{
    return FakeReply{.status = status, .body = body, .contentType = QStringLiteral("text/xml")};
}

const FakeReply kHangUp{.closeWithoutReply = true};

using Operation = KRRequestHandle (KRDanmakuClient::*)(qint64, QObject*, KRDanmakuCompletion);

OutcomeRef<KRDanmakuList> run(Operation operation, qint64 cid, bool* answeredInside = nullptr)
{
    return servicetest::run<KRDanmakuList>([&](auto done) { (KRDanmakuClient::sharedClient()->*operation)(cid, liveOwner(), done); }, answeredInside);
}

OutcomeRef<KRDanmakuList> load(qint64 cid) { return run(&KRDanmakuClient::loadDanmakusForCID, cid); }

class DanmakuClientTest : public ServiceClientTest {
protected:
    void serveComment(qint64 cid, const FakeReply& reply)
    {
        fake.routeReply(KRServiceHosts::commentHost(), QStringLiteral("/%1.xml").arg(cid), reply);
    }
    void serveList(const FakeReply& reply) { serve(kListPath, reply); }
};

TEST_F(DanmakuClientTest, PlainAndCompressedBodiesAreReadAndTheCacheHoldsTheDocument)
{
    // cid 5: the first source fails, and the second answers (gzip).
    serveComment(5, xmlReply("<html>bad gateway</html>", 502));
    serveList(xmlReply(compress(kDocument, 31)));
    const QList<QPair<qint64, QByteArray>> bodies{
        {1, kDocument}, {2, compress(kDocument, -15)}, {3, compress(kDocument, 15)}, {4, compress(kDocument, 31)}, {5, {}}};
    for (const auto& [cid, body] : bodies) {
        SCOPED_TRACE(cid);
        if (!body.isEmpty())
            serveComment(cid, xmlReply(body));
        const auto reply = load(cid);
        EXPECT_FALSE(reply->error);
        ASSERT_EQ(reply->value.size(), 2);
        EXPECT_EQ(reply->value[0]->text(), QStringLiteral("second")) << "sorted by time";
        EXPECT_EQ(fileContents(KRDanmakuNetworkCachePath(cid)), kDocument);
    }
    // The second source is asked only after a failure, with the cid as "oid".
    ASSERT_EQ(requestsTo(kListPath).size(), 1);
    EXPECT_EQ(requestsTo(kListPath).first().query, QStringLiteral("oid=5"));
    const FakeRequest request = fake.requests().first();
    EXPECT_TRUE(request.tls);
    EXPECT_EQ(request.header(QStringLiteral("Accept-Encoding")), QStringLiteral("deflate, gzip"));
    EXPECT_EQ(request.header(QStringLiteral("Referer")), webRoot());
    EXPECT_EQ(request.header(QStringLiteral("User-Agent")), kWebAgent);
}

TEST_F(DanmakuClientTest, CachedCopyStandsInAndAnErrorPageNeverReplacesIt)
{
    serveComment(279786, xmlReply(compress(kDocument, -15)));
    ASSERT_FALSE(load(279786)->error);

    // Both sources answer a well-formed danmaku document, but with an error status; then the
    // server is down.
    const QByteArray errorPage = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,0,0,0,x,9\">错误页里的弹幕</d></i>";
    for (const auto& [comment, list] : {std::pair{xmlReply(errorPage, 500), xmlReply(errorPage, 404)}, std::pair{kHangUp, kHangUp}}) {
        serveComment(279786, comment);
        serveList(list);
        ConsoleCapture console;
        const auto reply = load(279786);
        EXPECT_FALSE(reply->error);
        EXPECT_EQ(reply->value.size(), 2) << "the good copy";
        EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneDanmaku] cid=279786 ready count=2 cache=YES")));
        EXPECT_EQ(fileContents(KRDanmakuNetworkCachePath(279786)), kDocument);
    }

    // Without any copy an error page is no document, and nothing is kept.
    serveComment(5, xmlReply(errorPage, 500));
    serveList(xmlReply(errorPage, 404));
    const auto nothing = load(5);
    EXPECT_TRUE(nothing->value.isEmpty());
    expectError(nothing->error, 2, QStringLiteral("弹幕 XML 无法解析"), KRDanmakuClientErrorDomain);
    EXPECT_FALSE(QFile::exists(KRDanmakuNetworkCachePath(5)));
}

TEST_F(DanmakuClientTest, BodiesThatGiveNoDocumentFail)
{
    QByteArray huge = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,0\">x</d>";
    huge.append(QByteArray(KRDanmakuClient::maximumDocumentBytes + 1024, ' '));
    huge.append("</i>");
    struct Case {
        const char* name;
        QByteArray comment;
        QByteArray list;
    };
    const QList<Case> cases{
        {"inflates past the limit", compress(huge, -15), compress(huge, 31)},
        {"neither XML nor compressed", "just text", "{\"code\":0}"},
    };
    qint64 cid = 7;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveComment(++cid, xmlReply(item.comment));
        serveList(xmlReply(item.list));
        const auto reply = load(cid);
        EXPECT_TRUE(reply->value.isEmpty());
        expectError(reply->error, 2, QString(), KRDanmakuClientErrorDomain);
        EXPECT_FALSE(QFile::exists(KRDanmakuNetworkCachePath(cid)));
    }

    // Looks like XML but does not parse: the reader's error.
    const QByteArray broken = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,0\">x</i>";
    serveComment(20, xmlReply(broken));
    serveList(xmlReply(compress(broken, -15)));
    const auto unreadable = load(20);
    EXPECT_TRUE(unreadable->value.isEmpty());
    ASSERT_TRUE(unreadable->error);
    EXPECT_EQ(unreadable->error->domain(), KRXMLParserErrorDomain);

    // The limit itself is allowed, one byte more is not; a cut stream gives nothing.
    const QByteArray deflated = compress(kDocument, -15);
    EXPECT_EQ(KRInflateDanmakuBody(deflated, kDocument.size()), kDocument);
    EXPECT_FALSE(KRInflateDanmakuBody(deflated, kDocument.size() - 1));
    EXPECT_FALSE(KRInflateDanmakuBody(deflated.left(deflated.size() / 2), 1 << 20));
}

TEST_F(DanmakuClientTest, MissingCIDFailsAtOnceWithoutARequest)
{
    bool inside = false;
    expectError(run(&KRDanmakuClient::loadDanmakusForCID, 0, &inside)->error, 1, QStringLiteral("缺少 CID，无法读取弹幕"),
                KRDanmakuClientErrorDomain);
    EXPECT_TRUE(inside);
    expectError(run(&KRDanmakuClient::loadCachedDanmakusForCID, -3, &inside)->error, 1, QStringLiteral("缺少 CID，无法读取离线弹幕"),
                KRDanmakuClientErrorDomain);
    EXPECT_TRUE(inside);
    EXPECT_FALSE(KRDanmakuClient::sharedClient()->hasCachedDanmakusForCID(0));
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(DanmakuClientTest, OfflineCopyIsMadeFromTheNetworkCacheAndRemovedAlone)
{
    KRDanmakuClient* client = KRDanmakuClient::sharedClient();
    EXPECT_FALSE(client->hasCachedDanmakusForCID(279786));
    expectError(run(&KRDanmakuClient::loadCachedDanmakusForCID, 279786)->error, 3, QStringLiteral("这条离线视频还没有缓存弹幕"),
                KRDanmakuClientErrorDomain);

    serveComment(279786, xmlReply(kDocument));
    ASSERT_FALSE(load(279786)->error);
    EXPECT_TRUE(client->hasCachedDanmakusForCID(279786));
    EXPECT_EQ(fileContents(KRDanmakuOfflineCachePath(279786)), kDocument);

    serveComment(279786, kHangUp);
    serveList(kHangUp);
    const auto offline = run(&KRDanmakuClient::loadCachedDanmakusForCID, 279786);
    EXPECT_FALSE(offline->error);
    EXPECT_EQ(offline->value.size(), 2);

    client->removeCachedDanmakusForCID(279786);
    EXPECT_FALSE(QFile::exists(KRDanmakuOfflineCachePath(279786)));
    EXPECT_TRUE(QFile::exists(KRDanmakuNetworkCachePath(279786))) << "the network cache stays";

    // Making sure of an offline copy fetches when needed.
    serveComment(31, xmlReply(compress(kDocument, 15)));
    const auto cached = run(&KRDanmakuClient::cacheDanmakusForCID, 31);
    EXPECT_FALSE(cached->error);
    EXPECT_EQ(cached->value.size(), 2);
    EXPECT_EQ(fileContents(KRDanmakuOfflineCachePath(31)), kDocument);
}

TEST_F(DanmakuClientTest, CancelledOrOrphanedLoadsDeliverNothingAndStop)
{
    // The first source answers late and fails, so a load that went on would ask the second.
    serveComment(41, FakeReply{.status = 502, .body = "<html>bad gateway</html>", .delayMs = 150});
    serveList(xmlReply(kDocument));
    for (const bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled" : "owner destroyed");
        auto owner = std::make_unique<QObject>();
        auto release = std::make_shared<Release>();
        int calls = 0;
        const KRRequestHandle handle = KRDanmakuClient::sharedClient()->loadDanmakusForCID(
            41, owner.get(), [token = releaseToken(release), &calls](const KRDanmakuList&, const KROptionalError&) { ++calls; });
        ASSERT_TRUE(handle.isValid());
        // While the first exchange is under way.
        KR_WAIT_UNTIL(requestsTo(QStringLiteral("/41.xml")).size() == (cancel ? 1 : 2));
        if (cancel)
            KRRequestHandle(handle).cancel(); // any copy cancels the one load
        else
            owner.reset();
        KR_WAIT_UNTIL(release->done);
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(release->onMain) << "the completion is released on the main thread";
        EXPECT_EQ(handle.isCancelled(), cancel);
    }
    EXPECT_TRUE(requestsTo(kListPath).isEmpty()) << "the second source is never asked";
    EXPECT_FALSE(QFile::exists(KRDanmakuNetworkCachePath(41)));
    EXPECT_FALSE(KRDanmakuClient::sharedClient()->loadDanmakusForCID(0, nullptr, nullptr).isValid())
        << "answered inside the call: a default handle";
}

} // namespace
