#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "service/KRDanmakuClient.h"
#include "service/KRDanmakuXMLParser.h"
#include "service/KRServiceHosts.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <zlib.h>

using testsupport::ConsoleCapture;
using testsupport::FakeReply;
using testsupport::FakeService;

namespace {

const QByteArray kDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat</chatserver><chatid>279786</chatid>"
    "<d p=\"12.5,1,25,16777215,1700000000,0,5e1f2a,101\">第一条</d>"
    "<d p=\"3.25,5,18,255,1700000001,0,77aa00,102\">second</d></i>";

const QByteArray kOtherDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><d p=\"1,1,25,0,0,0,x,9\">错误页里的弹幕</d></i>";

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
QByteArray rawDeflate(const QByteArray& data) { return compress(data, -15); }
QByteArray zlibWrapped(const QByteArray& data) { return compress(data, 15); }
QByteArray gzipWrapped(const QByteArray& data) { return compress(data, 31); }

FakeReply xmlReply(const QByteArray& body, int status = 200)
{
    FakeReply reply = FakeReply::text(body, QStringLiteral("text/xml"));
    reply.status = status;
    return reply;
}

FakeReply hangUp()
{
    FakeReply reply;
    reply.closeWithoutReply = true;
    return reply;
}

QString commentPath(qint64 cid) { return QStringLiteral("/%1.xml").arg(cid); }
const QString kListPath = QStringLiteral("/x/v1/dm/list.so");

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct DanmakuReply {
    int calls = 0;
    bool onMain = true;
    KRDanmakuList danmakus;
    KROptionalError error;
};

std::shared_ptr<DanmakuReply> start(void (KRDanmakuClient::*operation)(qint64, KRDanmakuCompletion), qint64 cid)
{
    auto reply = std::make_shared<DanmakuReply>();
    (KRDanmakuClient::sharedClient()->*operation)(cid, [reply](const KRDanmakuList& danmakus, const KROptionalError& error) {
        ++reply->calls;
        reply->onMain = reply->onMain && platform::isMainThread();
        reply->danmakus = danmakus;
        reply->error = error;
    });
    return reply;
}

DanmakuReply run(void (KRDanmakuClient::*operation)(qint64, KRDanmakuCompletion), qint64 cid)
{
    auto reply = start(operation, cid);
    EXPECT_TRUE(testsupport::waitUntil([&] { return reply->calls > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(reply->calls, 1);
    EXPECT_TRUE(reply->onMain);
    return *reply;
}

DanmakuReply load(qint64 cid) { return run(&KRDanmakuClient::loadDanmakusForCID, cid); }

class DanmakuClientTest : public ::testing::Test {
protected:
    void SetUp() override { KRDanmakuClient::setRequestTimeoutForTesting(0); }
    void TearDown() override { KRDanmakuClient::setRequestTimeoutForTesting(0); }

    void serveComment(qint64 cid, const FakeReply& reply) { fake.routeReply(KRServiceHosts::commentHost(), commentPath(cid), reply); }
    void serveList(const FakeReply& reply) { fake.routeReply(KRServiceHosts::apiHost(), kListPath, reply); }

    FakeService fake{KRServiceHosts::allServiceHosts()};
};

TEST_F(DanmakuClientTest, RawDeflateBodyIsParsedAndTheCacheHoldsTheInflatedDocument)
{
    serveComment(279786, xmlReply(rawDeflate(kDocument)));
    const DanmakuReply reply = load(279786);
    ASSERT_FALSE(reply.error) << reply.error->description().toStdString();
    ASSERT_EQ(reply.danmakus.size(), 2);
    EXPECT_EQ(reply.danmakus[0]->text(), QStringLiteral("second")) << "sorted by time";
    EXPECT_EQ(reply.danmakus[1]->text(), QStringLiteral("第一条"));
    EXPECT_EQ(fileContents(KRDanmakuNetworkCachePath(279786)), kDocument);

    ASSERT_EQ(fake.requests().size(), 1) << "the second source is not asked after a success";
    const auto request = fake.requests().first();
    EXPECT_TRUE(request.tls);
    EXPECT_EQ(request.header(QStringLiteral("Accept-Encoding")), QStringLiteral("deflate, gzip"));
    EXPECT_EQ(request.header(QStringLiteral("Referer")), QStringLiteral("https://") + KRServiceHosts::webHost() + "/");
    EXPECT_TRUE(request.header(QStringLiteral("User-Agent")).endsWith(QStringLiteral("Korvane/0.1")));
}

TEST_F(DanmakuClientTest, PlainZlibAndGzipBodiesAllRead)
{
    serveComment(1, xmlReply(kDocument));
    serveComment(2, xmlReply(zlibWrapped(kDocument)));
    serveComment(3, xmlReply(gzipWrapped(kDocument)));
    for (qint64 cid : {1, 2, 3}) {
        const DanmakuReply reply = load(cid);
        EXPECT_FALSE(reply.error) << cid;
        EXPECT_EQ(reply.danmakus.size(), 2) << cid;
        EXPECT_EQ(fileContents(KRDanmakuNetworkCachePath(cid)), kDocument) << cid;
    }
}

TEST_F(DanmakuClientTest, SecondSourceAnswersWhenTheFirstFails)
{
    serveComment(10, xmlReply("<html>bad gateway</html>", 502));
    serveList(xmlReply(gzipWrapped(kDocument)));
    const DanmakuReply reply = load(10);
    EXPECT_FALSE(reply.error);
    EXPECT_EQ(reply.danmakus.size(), 2);
    const auto listRequests = fake.requestsTo(kListPath);
    ASSERT_EQ(listRequests.size(), 1);
    EXPECT_EQ(listRequests[0].queryValue(QStringLiteral("oid")), QStringLiteral("10"));
}

TEST_F(DanmakuClientTest, CachedCopyServesWhenTheServerIsDown)
{
    serveComment(279786, xmlReply(rawDeflate(kDocument)));
    ASSERT_FALSE(load(279786).error);

    serveComment(279786, hangUp());
    serveList(hangUp());
    ConsoleCapture console;
    const DanmakuReply reply = load(279786);
    EXPECT_FALSE(reply.error);
    EXPECT_EQ(reply.danmakus.size(), 2);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneDanmaku] cid=279786 ready count=2 cache=YES")));
}

TEST_F(DanmakuClientTest, AnErrorPageNeverReplacesTheCachedDocument)
{
    serveComment(279786, xmlReply(kDocument));
    ASSERT_FALSE(load(279786).error);

    // Both sources answer with a well-formed danmaku document, but as an error status.
    serveComment(279786, xmlReply(kOtherDocument, 500));
    serveList(xmlReply(kOtherDocument, 404));
    const DanmakuReply reply = load(279786);
    EXPECT_FALSE(reply.error);
    ASSERT_EQ(reply.danmakus.size(), 2) << "the good copy, not the error page";
    EXPECT_EQ(fileContents(KRDanmakuNetworkCachePath(279786)), kDocument);

    // Without any copy the status is the error.
    serveComment(5, xmlReply(kOtherDocument, 500));
    const DanmakuReply nothing = load(5);
    EXPECT_TRUE(nothing.danmakus.isEmpty());
    ASSERT_TRUE(nothing.error);
    EXPECT_TRUE(nothing.error->is(KRDanmakuClientErrorDomain, 404)) << "the last source's error";
    EXPECT_FALSE(QFile::exists(KRDanmakuNetworkCachePath(5)));
}

TEST_F(DanmakuClientTest, BodyInflatingPastTheLimitIsRefused)
{
    QByteArray huge = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,0\">x</d>";
    huge.append(QByteArray(KRDanmakuClient::maximumDocumentBytes + 1024, ' '));
    huge.append("</i>");
    serveComment(7, xmlReply(rawDeflate(huge)));
    serveList(xmlReply(gzipWrapped(huge)));
    const DanmakuReply reply = load(7);
    EXPECT_TRUE(reply.danmakus.isEmpty());
    ASSERT_TRUE(reply.error);
    EXPECT_TRUE(reply.error->is(KRDanmakuClientErrorDomain, 5));
    EXPECT_FALSE(QFile::exists(KRDanmakuNetworkCachePath(7)));

    // The limit itself is allowed; one byte more is not.
    const QByteArray deflated = rawDeflate(kDocument);
    bool tooLarge = true;
    EXPECT_EQ(KRInflateDanmakuBody(deflated, kDocument.size(), &tooLarge), kDocument);
    EXPECT_FALSE(tooLarge);
    EXPECT_FALSE(KRInflateDanmakuBody(deflated, kDocument.size() - 1, &tooLarge));
    EXPECT_TRUE(tooLarge);
    // A cut stream gives nothing rather than half a document.
    EXPECT_FALSE(KRInflateDanmakuBody(deflated.left(deflated.size() / 2), 1 << 20, &tooLarge));
    EXPECT_FALSE(tooLarge);
}

TEST_F(DanmakuClientTest, BodiesThatAreNoDocumentFail)
{
    serveComment(8, xmlReply("just text, not compressed"));
    serveList(xmlReply("{\"code\":0}"));
    const DanmakuReply reply = load(8);
    ASSERT_TRUE(reply.error);
    EXPECT_TRUE(reply.error->is(KRDanmakuClientErrorDomain, 2));
    EXPECT_EQ(reply.error->message(), QStringLiteral("弹幕 XML 无法解析"));

    // Looks like XML but does not parse: the reader's error.
    const QByteArray broken = "<?xml version=\"1.0\"?><i><d p=\"1,1,25,0\">x</i>";
    serveComment(9, xmlReply(broken));
    serveList(xmlReply(rawDeflate(broken)));
    const DanmakuReply unreadable = load(9);
    EXPECT_TRUE(unreadable.danmakus.isEmpty());
    ASSERT_TRUE(unreadable.error);
    EXPECT_EQ(unreadable.error->domain(), KRXMLParserErrorDomain);
    EXPECT_FALSE(QFile::exists(KRDanmakuNetworkCachePath(9)));
}

TEST_F(DanmakuClientTest, MissingCIDFailsAtOnceWithoutARequest)
{
    auto network = start(&KRDanmakuClient::loadDanmakusForCID, 0);
    EXPECT_EQ(network->calls, 1) << "answered inside the call";
    ASSERT_TRUE(network->error);
    EXPECT_TRUE(network->error->is(KRDanmakuClientErrorDomain, 1));
    EXPECT_EQ(network->error->message(), QStringLiteral("缺少 CID，无法读取弹幕"));

    auto offline = start(&KRDanmakuClient::loadCachedDanmakusForCID, -3);
    EXPECT_EQ(offline->calls, 1);
    ASSERT_TRUE(offline->error);
    EXPECT_EQ(offline->error->message(), QStringLiteral("缺少 CID，无法读取离线弹幕"));

    EXPECT_FALSE(KRDanmakuClient::sharedClient()->hasCachedDanmakusForCID(0));
    QCoreApplication::processEvents();
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(DanmakuClientTest, OfflineCopyIsMadeFromTheNetworkCacheAndRemovedAlone)
{
    EXPECT_FALSE(KRDanmakuClient::sharedClient()->hasCachedDanmakusForCID(279786));
    const DanmakuReply none = run(&KRDanmakuClient::loadCachedDanmakusForCID, 279786);
    ASSERT_TRUE(none.error);
    EXPECT_TRUE(none.error->is(KRDanmakuClientErrorDomain, 3));

    serveComment(279786, xmlReply(kDocument));
    ASSERT_FALSE(load(279786).error);
    EXPECT_TRUE(KRDanmakuClient::sharedClient()->hasCachedDanmakusForCID(279786));
    EXPECT_EQ(fileContents(KRDanmakuOfflineCachePath(279786)), kDocument);

    serveComment(279786, hangUp());
    serveList(hangUp());
    const DanmakuReply offline = run(&KRDanmakuClient::loadCachedDanmakusForCID, 279786);
    EXPECT_FALSE(offline.error);
    EXPECT_EQ(offline.danmakus.size(), 2);

    KRDanmakuClient::sharedClient()->removeCachedDanmakusForCID(279786);
    EXPECT_FALSE(QFile::exists(KRDanmakuOfflineCachePath(279786)));
    EXPECT_TRUE(QFile::exists(KRDanmakuNetworkCachePath(279786))) << "the network cache stays";

    // Making sure of an offline copy fetches when needed.
    serveComment(31, xmlReply(zlibWrapped(kDocument)));
    const DanmakuReply cached = run(&KRDanmakuClient::cacheDanmakusForCID, 31);
    EXPECT_FALSE(cached.error);
    EXPECT_EQ(cached.danmakus.size(), 2);
    EXPECT_EQ(fileContents(KRDanmakuOfflineCachePath(31)), kDocument);
}

} // namespace
