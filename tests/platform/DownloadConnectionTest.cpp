#include "platform/net/CookieStorage.h"
#include "platform/net/DownloadConnection.h"
#include "support/FakeService.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace platform;
using testsupport::FakeReply;
using testsupport::FakeService;
namespace media = testsupport::MediaFixtures;

namespace {

// Everything a connection told its owner, in order.
struct Recorder {
    QStringList events;
    QList<DownloadResponse> redirects;
    DownloadResponse response;
    QByteArray body;
    std::optional<Error> error;
    bool ended = false;

    DownloadConnection::Delegate delegate()
    {
        DownloadConnection::Delegate d;
        d.willSendRequest = [this](HTTPRequest& next, const DownloadResponse& redirect) {
            events << QStringLiteral("redirect %1").arg(redirect.status);
            redirects << redirect;
            next.headers.set(QStringLiteral("X-Owner"), QStringLiteral("again"));
        };
        d.didReceiveResponse = [this](const DownloadResponse& r) {
            events << QStringLiteral("response %1").arg(r.status);
            response = r;
        };
        d.didReceiveData = [this](const QByteArray& data) {
            if (events.isEmpty() || events.last() != QLatin1String("data"))
                events << QStringLiteral("data");
            body += data;
        };
        d.didFail = [this](const Error& e) {
            events << QStringLiteral("fail %1").arg(e.code());
            error = e;
            ended = true;
        };
        d.didFinishLoading = [this] {
            events << QStringLiteral("finish");
            ended = true;
        };
        return d;
    }
};

HTTPRequest requestFor(const QString& url, double timeout = 60)
{
    HTTPRequest request;
    request.url = url;
    request.timeoutSeconds = timeout;
    request.headers.set(QStringLiteral("X-Owner"), QStringLiteral("first"));
    return request;
}

class DownloadConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { CookieStorage::shared().deleteAll(); }
    void TearDown() override { CookieStorage::shared().deleteAll(); }

    QString source(qint64 size, quint32 seed = 1)
    {
        return media::writeGeneratedFile(testsupport::testHome() + QStringLiteral("/src-%1.bin").arg(seed), size, seed);
    }
    QString url(const QString& path, const QString& host = media::primaryHost())
    {
        return QStringLiteral("https://%1%2").arg(host, path);
    }

    FakeService service{media::hosts() + QStringList{QStringLiteral("elsewhere.test")}};
};

TEST_F(DownloadConnectionTest, DeliversResponseThenEveryByteThenFinishWithoutCookiesCompressionOrRange)
{
    const QString file = source(3 * 1024 * 1024 + 17);
    media::serveFile(service, media::primaryHost(), QStringLiteral("/v.mp4"), file);
    CookieStorage::shared().setCookiesFromResponse({QStringLiteral("SESSDATA=secret; Path=/")}, url(QStringLiteral("/")));

    Recorder recorder;
    DownloadConnection connection(requestFor(url(QStringLiteral("/v.mp4"))), recorder.delegate());
    KR_WAIT_UNTIL(recorder.ended);

    EXPECT_EQ(recorder.events, (QStringList{"response 200", "data", "finish"}));
    EXPECT_EQ(recorder.response.expectedContentLength, 3 * 1024 * 1024 + 17);
    EXPECT_EQ(recorder.response.mimeType, QStringLiteral("video/mp4"));
    EXPECT_FALSE(recorder.response.headers.value(QStringLiteral("ETag")).isEmpty());
    EXPECT_EQ(recorder.body, media::generatedBytes(3 * 1024 * 1024 + 17));
    const auto sent = service.requestsTo(QStringLiteral("/v.mp4"));
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent.first().header(QStringLiteral("X-Owner")), QStringLiteral("first"));
    for (const char* absent : {"Cookie", "Range", "Accept-Encoding"})
        EXPECT_FALSE(sent.first().headers.contains(QLatin1String(absent))) << absent;
}

TEST_F(DownloadConnectionTest, ChunkedBodyHasNoAnnouncedLength)
{
    const QString file = source(700 * 1024, 2);
    media::Serving chunked;
    chunked.chunked = true;
    media::serveFile(service, media::primaryHost(), QStringLiteral("/c.mp4"), file, chunked);

    Recorder recorder;
    DownloadConnection connection(requestFor(url(QStringLiteral("/c.mp4"))), recorder.delegate());
    KR_WAIT_UNTIL(recorder.ended);
    EXPECT_EQ(recorder.response.expectedContentLength, -1);
    EXPECT_EQ(recorder.body, media::generatedBytes(700 * 1024, 2));
}

TEST_F(DownloadConnectionTest, EachRedirectIsOfferedBeforeItsHopAndCarriesTheOwnersHeaders)
{
    const QString file = source(1000, 3);
    media::serveFile(service, media::secondaryHost(), QStringLiteral("/final.mp4"), file);
    service.routeReply(media::primaryHost(), QStringLiteral("/hop1"), FakeReply::redirect(QStringLiteral("/hop2")));
    service.routeReply(media::primaryHost(), QStringLiteral("/hop2"),
                       FakeReply::redirect(url(QStringLiteral("/final.mp4"), media::secondaryHost()), 307));

    Recorder recorder;
    DownloadConnection connection(requestFor(url(QStringLiteral("/hop1"))), recorder.delegate());
    KR_WAIT_UNTIL(recorder.ended);
    EXPECT_EQ(recorder.events, (QStringList{"redirect 302", "redirect 307", "response 200", "data", "finish"}));
    EXPECT_EQ(recorder.body, media::generatedBytes(1000, 3));
    const auto final = service.requestsTo(QStringLiteral("/final.mp4"));
    ASSERT_EQ(final.size(), 1);
    EXPECT_EQ(final.first().host, media::secondaryHost());
    EXPECT_EQ(final.first().header(QStringLiteral("X-Owner")), QStringLiteral("again"));
    EXPECT_EQ(recorder.response.url, url(QStringLiteral("/final.mp4"), media::secondaryHost()));
}

TEST_F(DownloadConnectionTest, RefusesEveryHopOutsideHTTPAndTheFence)
{
    struct Case {
        const char* name;
        QString start;
        int code;
    };
    service.routeReply(media::primaryHost(), QStringLiteral("/to-ftp"), FakeReply::redirect(QStringLiteral("ftp://files.test/x.mp4")));
    service.routeReply(media::primaryHost(), QStringLiteral("/to-file"), FakeReply::redirect(QStringLiteral("file:///etc/passwd")));
    const Case cases[] = {
        {"redirect to ftp", url(QStringLiteral("/to-ftp")), URLError::UnsupportedURL},
        {"redirect to file", url(QStringLiteral("/to-file")), URLError::UnsupportedURL},
        {"ftp start", QStringLiteral("ftp://files.test/x.mp4"), URLError::UnsupportedURL},
        {"no scheme", QStringLiteral("media-a.cdn.test/x"), URLError::BadURL},
        {"outside the fence", QStringLiteral("https://unlisted.example/x.mp4"), URLError::CannotFindHost},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        DownloadConnection connection(requestFor(c.start), recorder.delegate());
        KR_WAIT_UNTIL(recorder.ended);
        EXPECT_EQ(recorder.events, QStringList{QStringLiteral("fail %1").arg(c.code)}) << c.name;
        ASSERT_TRUE(recorder.error) << c.name;
        EXPECT_EQ(recorder.error->domain(), URLError::domain());
    }
}

TEST_F(DownloadConnectionTest, ACutBodyFailsAsALostConnection)
{
    const QString file = source(2 * 1024 * 1024, 4);
    media::Serving cut;
    cut.cutAfter = 1024 * 1024;
    media::serveFile(service, media::primaryHost(), QStringLiteral("/cut.mp4"), file, cut);
    Recorder recorder;
    DownloadConnection connection(requestFor(url(QStringLiteral("/cut.mp4"))), recorder.delegate());
    KR_WAIT_UNTIL(recorder.ended);
    EXPECT_EQ(recorder.events.last(), QStringLiteral("fail %1").arg(URLError::NetworkConnectionLost));
    EXPECT_EQ(recorder.body, media::generatedBytes(2 * 1024 * 1024, 4).left(1024 * 1024));
}

TEST_F(DownloadConnectionTest, CancelSilencesAtOnceEvenWithEventsQueued)
{
    const QString file = source(8 * 1024 * 1024, 5);
    media::serveFile(service, media::primaryHost(), QStringLiteral("/big.mp4"), file);
    media::serveFile(service, media::primaryHost(), QStringLiteral("/small.mp4"), source(1000, 8));
    Recorder recorder;
    std::unique_ptr<DownloadConnection> connection;
    DownloadConnection::Delegate d = recorder.delegate();
    int dataCalls = 0;
    d.didReceiveData = [&](const QByteArray&) {
        ++dataCalls;
        connection->cancel();
    };
    connection = std::make_unique<DownloadConnection>(requestFor(url(QStringLiteral("/big.mp4"))), d);
    KR_WAIT_UNTIL(dataCalls > 0);
    // A later download runs to its end while the cancelled one's queued chunks drain unseen.
    Recorder later;
    DownloadConnection other(requestFor(url(QStringLiteral("/small.mp4"))), later.delegate());
    KR_WAIT_UNTIL(later.ended);
    EXPECT_EQ(dataCalls, 1);
    EXPECT_FALSE(recorder.ended);
    EXPECT_TRUE(connection->isCancelled());
    connection.reset(); // destroying a cancelled connection is harmless
}

TEST_F(DownloadConnectionTest, ASlowOwnerPausesTheTransferWithBoundedMemory)
{
    const qint64 size = 24 * 1024 * 1024;
    const QString file = source(size, 6);
    media::Serving serving;
    media::serveFile(service, media::primaryHost(), QStringLiteral("/slow.mp4"), file, serving);

    Recorder recorder;
    std::unique_ptr<DownloadConnection> connection;
    DownloadConnection::Delegate d = recorder.delegate();
    bool checked = false;
    qint64 heldWhileBlocked = 0;
    const auto recordData = d.didReceiveData;
    d.didReceiveData = [&](const QByteArray& data) {
        if (!checked) {
            checked = true;
            // The owner is stuck: the worker must stop at its limit instead of reading on.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!connection->isWaitingForRoomForTesting() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            heldWhileBlocked = connection->bufferedBytesForTesting();
        }
        recordData(data);
    };
    connection = std::make_unique<DownloadConnection>(requestFor(url(QStringLiteral("/slow.mp4"))), d);
    KR_WAIT_UNTIL(recorder.ended);
    EXPECT_GE(heldWhileBlocked, DownloadConnection::maximumBufferedBytes);
    EXPECT_LE(heldWhileBlocked, DownloadConnection::maximumBufferedBytes + 512 * 1024);
    EXPECT_LT(serving.sentBytes->load(), size + 1);
    EXPECT_EQ(recorder.body.size(), size);
    EXPECT_EQ(recorder.body, media::generatedBytes(size, 6));
}

TEST_F(DownloadConnectionTest, TheTimeOutCountsIdleTimeOnly)
{
    const QString file = source(400 * 1024, 7);
    media::Serving slow;
    slow.throttleChunkBytes = 32 * 1024;
    slow.throttleMs = 60; // about 0.75 s in all, never more than 60 ms idle
    media::serveFile(service, media::primaryHost(), QStringLiteral("/trickle.mp4"), file, slow);
    media::Serving stalled;
    stalled.stallAfter = 1000;
    media::serveFile(service, media::primaryHost(), QStringLiteral("/stall.mp4"), file, stalled);

    Recorder trickle;
    DownloadConnection first(requestFor(url(QStringLiteral("/trickle.mp4")), 0.5), trickle.delegate());
    Recorder stall;
    DownloadConnection second(requestFor(url(QStringLiteral("/stall.mp4")), 0.5), stall.delegate());
    KR_WAIT_UNTIL(trickle.ended && stall.ended);
    EXPECT_EQ(trickle.events.last(), QStringLiteral("finish"));
    EXPECT_EQ(trickle.body.size(), 400 * 1024);
    EXPECT_EQ(stall.events.last(), QStringLiteral("fail %1").arg(URLError::TimedOut));
}

} // namespace
