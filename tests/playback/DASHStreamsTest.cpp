#include "playback/KRDASHStreams.h"
#include "playback/KRQualitySwitchTransaction.h"

#include "PlaybackTesting.h"
#include "model/KRServiceHosts.h"
#include "platform/device/DeviceProfile.h"

#include <QSet>
#include <QVariantList>

#include <gtest/gtest.h>

#include <limits>

using playbacktest::diagnosticsLog;

namespace {

QVariantMap stream(qint64 id, int codecid, const QString& codecs, qint64 bandwidth, const QString& url = {})
{
    QVariantMap map{{QStringLiteral("id"), id},           {QStringLiteral("codecid"), codecid},
                    {QStringLiteral("codecs"), codecs},   {QStringLiteral("bandwidth"), bandwidth},
                    {QStringLiteral("width"), 1280},      {QStringLiteral("height"), 720},
                    {QStringLiteral("frame_rate"), QStringLiteral("25")}};
    if (!url.isEmpty())
        map.insert(QStringLiteral("base_url"), url);
    return map;
}

QVariantMap info(const QVariantList& video, const QVariantList& audio = {})
{
    return {{QStringLiteral("dash"), QVariantMap{{QStringLiteral("video"), video}, {QStringLiteral("audio"), audio}}}};
}

QString urlOf(const std::optional<QVariantMap>& chosen)
{
    return chosen ? chosen->value(QStringLiteral("base_url")).toString() : QStringLiteral("<none>");
}

QString cdn(int index) { return KRServiceHosts::videoCDNHostSuffixes().value(index); }

class DASHStreamsTest : public ::testing::Test {
protected:
    void SetUp() override { KRDiagnostics::resetForTesting(); }
    void TearDown() override { platform::DeviceProfile::resetForTesting(); }
};

TEST_F(DASHStreamsTest, CDNSuffixesComeFromTheBuildWithoutLeadingDots)
{
    const QStringList suffixes = KRServiceHosts::videoCDNHostSuffixes();
    ASSERT_EQ(suffixes.size(), 3);
    for (const QString& suffix : suffixes) {
        EXPECT_FALSE(suffix.startsWith(QLatin1Char('.'))) << suffix.toStdString();
        EXPECT_EQ(suffix, suffix.toLower());
        EXPECT_TRUE(suffix.endsWith(QLatin1String(".test"))) << suffix.toStdString();
    }
    EXPECT_EQ(QSet<QString>(suffixes.begin(), suffixes.end()).size(), 3);
}

TEST_F(DASHStreamsTest, PicturePickerPrefersExactThenBestBelowThenHighest)
{
    const QVariantList streams{stream(32, 7, QStringLiteral("avc1.64001F"), 400000, QStringLiteral("a32")),
                               stream(64, 7, QStringLiteral("avc1.640028"), 900000, QStringLiteral("a64")),
                               stream(64, 7, QStringLiteral("avc1.640028"), 700000, QStringLiteral("b64")),
                               stream(80, 7, QStringLiteral("avc1.640028"), 1500000, QStringLiteral("a80"))};
    struct Case {
        int requested;
        const char* chosen;
    };
    const Case cases[] = {{64, "b64"}, {74, "b64"}, {80, "a80"}, {32, "a32"}, {120, "a80"}, {16, "a80"}, {0, "a80"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        EXPECT_EQ(urlOf(KRDASHH264VideoStream(info(streams), c.requested)), QString::fromLatin1(c.chosen));
    }
    // Requested 16 with only 32 and 64: the highest.
    EXPECT_EQ(urlOf(KRDASHH264VideoStream(info({streams[0], streams[1]}), 16)), QStringLiteral("a64"));
}

TEST_F(DASHStreamsTest, PicturePickerTakesH264Only)
{
    const QVariantList streams{stream(120, 12, QStringLiteral("hev1.1.6.L150.90"), 100, QStringLiteral("hevc")),
                               stream(80, 13, QStringLiteral("av01.0.08M.08"), 100, QStringLiteral("av1")),
                               stream(64, 0, QStringLiteral("avc1.640028"), 900000, QStringLiteral("avc-no-id")),
                               QVariant(QStringLiteral("not a stream")),
                               stream(32, 7, QString(), 400000, QStringLiteral("id-only"))};
    EXPECT_EQ(urlOf(KRDASHH264VideoStream(info(streams), 120)), QStringLiteral("avc-no-id"));
    EXPECT_EQ(urlOf(KRDASHH264VideoStream(info(streams), 32)), QStringLiteral("id-only"));
    EXPECT_FALSE(KRDASHH264VideoStream(info({streams[0], streams[1]}), 80).has_value());
}

TEST_F(DASHStreamsTest, PicturePickerRefusesOtherShapes)
{
    const QVariant candidates[] = {QVariant(), QVariant(QStringLiteral("dash")), QVariant(QVariantMap{}),
                                   QVariant(QVariantMap{{QStringLiteral("dash"), QVariantList{}}}),
                                   QVariant(QVariantMap{{QStringLiteral("dash"), QVariantMap{{QStringLiteral("video"), 5}}}}),
                                   QVariant(info({}))};
    for (const QVariant& candidate : candidates) {
        EXPECT_FALSE(KRDASHH264VideoStream(candidate, 80).has_value());
        EXPECT_FALSE(KRDASHBestAACStream(candidate).has_value());
    }
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("dash-video-representation")));
}

TEST_F(DASHStreamsTest, PicturePickerAvoidsStreamsHardForOlderDevices)
{
    QVariantMap wide = stream(80, 7, QStringLiteral("avc1.640028"), 100, QStringLiteral("wide"));
    wide.insert(QStringLiteral("width"), 2560);
    QVariantMap fast = stream(80, 7, QStringLiteral("avc1.640028"), 200, QStringLiteral("fast"));
    fast.insert(QStringLiteral("frame_rate"), QStringLiteral("60000/1001"));
    QVariantMap levelled = stream(80, 7, QStringLiteral("avc1.64002A"), 300, QStringLiteral("levelled"));
    QVariantMap plain = stream(80, 7, QStringLiteral("avc1.640028"), 5000000, QStringLiteral("plain"));
    EXPECT_EQ(urlOf(KRDASHH264VideoStream(info({wide, fast, levelled, plain}), 80)), QStringLiteral("plain"));
    EXPECT_EQ(urlOf(KRDASHH264VideoStream(info({wide, fast, levelled}), 80)), QStringLiteral("levelled"));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral(
        "[dash-video-representation] requested=80 selected=80 codec=avc1.64002A size=1280x720 fps=25.00 bandwidth=300 penalty=10")));
}

TEST_F(DASHStreamsTest, PenaltyAndFrameRates)
{
    struct FrameRate {
        QVariant value;
        double fps;
    };
    const FrameRate rates[] = {{QVariant(30), 30},
                               {QVariant(29.97), 29.97},
                               {QVariant(QStringLiteral("25")), 25},
                               {QVariant(QStringLiteral(" 59.940 ")), 59.94},
                               {QVariant(QStringLiteral("30000/1001")), 30000.0 / 1001},
                               {QVariant(QStringLiteral("60/0")), 0},
                               {QVariant(QStringLiteral("abc")), 0},
                               {QVariant(QStringLiteral("-25")), 0},
                               {QVariant(), 0},
                               {QVariant(QVariantList{30}), 0},
                               {QVariant(std::numeric_limits<double>::infinity()), 0}};
    for (const FrameRate& rate : rates) {
        SCOPED_TRACE(rate.value.toString().toStdString());
        EXPECT_NEAR(KRDASHFrameRateValue(rate.value), rate.fps, 1e-9);
    }

    struct Penalty {
        int width, height;
        QVariant frameRate;
        QVariant codecs;
        int penalty;
    };
    const Penalty penalties[] = {
        {1920, 1080, QStringLiteral("30"), QStringLiteral("avc1.640028"), 0},
        {1921, 1080, QStringLiteral("30"), QStringLiteral("avc1.640028"), 100},
        {1920, 1081, QStringLiteral("30"), QStringLiteral("avc1.640028"), 100},
        {1280, 720, QStringLiteral("31"), QStringLiteral("avc1.640028"), 0},
        {1280, 720, QStringLiteral("31.5"), QStringLiteral("avc1.640028"), 20},
        {1280, 720, QStringLiteral("30"), QStringLiteral("avc1.640029"), 0},
        {1280, 720, QStringLiteral("30"), QStringLiteral("avc1.64002a"), 10},
        {1280, 720, QStringLiteral("30"), QStringLiteral("avc1.640033"), 10},
        {1280, 720, QStringLiteral("30"), QStringLiteral("avc1.6400"), 0},
        {1280, 720, QStringLiteral("30"), QStringLiteral("avc1.6400zz"), 0},
        {1280, 720, QStringLiteral("30"), QStringLiteral("hev1.640033"), 0},
        {1280, 720, QStringLiteral("30"), QVariant(42), 0},
        {3840, 2160, QStringLiteral("60"), QStringLiteral("avc1.640033"), 130},
    };
    for (const Penalty& p : penalties) {
        SCOPED_TRACE(p.codecs.toString().toStdString());
        const QVariantMap s{{QStringLiteral("width"), p.width}, {QStringLiteral("height"), p.height},
                            {QStringLiteral("frame_rate"), p.frameRate}, {QStringLiteral("codecs"), p.codecs}};
        EXPECT_EQ(KRDASHLegacyPenalty(s), p.penalty);
    }
    EXPECT_EQ(KRDASHLegacyPenalty(QVariant(5)), 0);
}

TEST_F(DASHStreamsTest, PreferenceBetweenTwoStreams)
{
    const QVariantMap light = stream(80, 7, QStringLiteral("avc1.640028"), 500);
    const QVariantMap heavy = stream(80, 7, QStringLiteral("avc1.640033"), 100);
    const QVariantMap cheaper = stream(80, 7, QStringLiteral("avc1.640028"), 400);
    const QVariantMap unknown = stream(80, 7, QStringLiteral("avc1.640028"), 0);
    EXPECT_TRUE(KRDASHPreferLegacyStream(heavy, QVariant()));
    EXPECT_TRUE(KRDASHPreferLegacyStream(light, heavy));
    EXPECT_FALSE(KRDASHPreferLegacyStream(heavy, light));
    EXPECT_TRUE(KRDASHPreferLegacyStream(cheaper, light));
    EXPECT_FALSE(KRDASHPreferLegacyStream(light, cheaper));
    EXPECT_FALSE(KRDASHPreferLegacyStream(light, light));
    // A kept stream without a bandwidth counts as the largest; a candidate without one never wins on it.
    EXPECT_TRUE(KRDASHPreferLegacyStream(light, unknown));
    EXPECT_FALSE(KRDASHPreferLegacyStream(unknown, light));
    EXPECT_FALSE(KRDASHPreferLegacyStream(unknown, unknown));
}

TEST_F(DASHStreamsTest, SoundPickerTakesTheRichestAACStream)
{
    auto audio = [](const QVariant& codecs, qint64 bandwidth, const char* url) {
        QVariantMap map{{QStringLiteral("bandwidth"), bandwidth}, {QStringLiteral("base_url"), QString::fromLatin1(url)}};
        if (codecs.isValid())
            map.insert(QStringLiteral("codecs"), codecs);
        return QVariant(map);
    };
    EXPECT_EQ(urlOf(KRDASHBestAACStream(info({}, {audio(QStringLiteral("mp4a.40.2"), 64000, "a"),
                                                  audio(QStringLiteral("mp4a.40.2"), 132000, "b"),
                                                  audio(QStringLiteral("mp4a.40.2"), 132000, "c"),
                                                  audio(QStringLiteral("ec-3"), 900000, "dolby"),
                                                  audio(QStringLiteral("fLaC"), 990000, "flac")}))),
              QStringLiteral("b"));
    EXPECT_EQ(urlOf(KRDASHBestAACStream(info({}, {audio(QVariant(), 10, "unlabelled"), audio(QString(), 20, "empty"),
                                                  audio(QVariant(7), 30, "number"), QVariant(12)}))),
              QStringLiteral("number"));
    EXPECT_EQ(urlOf(KRDASHBestAACStream(info({}, {audio(QStringLiteral("mp4a.40.5"), 0, "only")}))), QStringLiteral("only"));
    EXPECT_FALSE(KRDASHBestAACStream(info({}, {audio(QStringLiteral("opus"), 10, "x")})).has_value());
}

TEST_F(DASHStreamsTest, StreamAddressOrder)
{
    const QVariantList backups{QStringLiteral("https://backup.example.test/1"), QStringLiteral("https://backup.example.test/2")};
    struct Case {
        QVariantMap stream;
        QString address;
    };
    const Case cases[] = {
        {{{QStringLiteral("base_url"), QStringLiteral("https://a.test/v")}, {QStringLiteral("baseUrl"), QStringLiteral("https://b.test/v")}},
         QStringLiteral("https://a.test/v")},
        {{{QStringLiteral("base_url"), QString()}, {QStringLiteral("baseUrl"), QStringLiteral("https://b.test/v")},
          {QStringLiteral("backup_url"), backups}},
         QStringLiteral("https://b.test/v")},
        {{{QStringLiteral("base_url"), 5}, {QStringLiteral("backup_url"), backups}}, QStringLiteral("https://backup.example.test/1")},
        {{{QStringLiteral("backupUrl"), backups}}, QStringLiteral("https://backup.example.test/1")},
        {{{QStringLiteral("backup_url"), QVariantList{}}, {QStringLiteral("backupUrl"), backups}},
         QStringLiteral("https://backup.example.test/1")},
        {{{QStringLiteral("backup_url"), QVariantList{7}}}, QString()},
        {{{QStringLiteral("backup_url"), QVariantList{QString()}}}, QString()},
        {{{QStringLiteral("backup_url"), QStringLiteral("https://not-a-list.test/")}}, QString()},
        {{}, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address.toStdString());
        const QString address = KRDASHStreamURLString(c.stream);
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(address.isNull(), c.address.isNull());
    }
    EXPECT_TRUE(KRDASHStreamURLString(QVariant(QStringLiteral("https://a.test/v"))).isNull());
}

TEST_F(DASHStreamsTest, OlderSystemsReachTheVideoCDNsOverHTTP)
{
    const QString onCDN = QStringLiteral("https://upos-sz-01.%1/ugc/1.m4s?e=1&deadline=2").arg(cdn(0));
    const QString onOtherCDN = QStringLiteral("https://EDGE.%1/x.mp4").arg(cdn(2).toUpper());
    const QString elsewhere = QStringLiteral("https://media.other.test/x.mp4");
    struct Case {
        const char* system;
        QString address;
        QString expected;
    };
    const Case cases[] = {
        {"8.4", onCDN, QStringLiteral("http://upos-sz-01.%1/ugc/1.m4s?e=1&deadline=2").arg(cdn(0))},
        {"1.0", onOtherCDN, QStringLiteral("http://EDGE.%1/x.mp4").arg(cdn(2).toUpper())},
        {"5.1.1", QStringLiteral("https://%1/bare").arg(cdn(1)), QStringLiteral("http://%1/bare").arg(cdn(1))},
        {"9.0", onCDN, onCDN},
        {"16.7", onCDN, onCDN},
        {"", onCDN, onCDN},
        {"8.4", elsewhere, elsewhere},
        {"8.4", QStringLiteral("http://a.%1/x").arg(cdn(0)), QStringLiteral("http://a.%1/x").arg(cdn(0))},
        {"8.4", QStringLiteral("file:///tmp/a.mp4"), QStringLiteral("file:///tmp/a.mp4")},
        {"8.4", QString(), QString()},
        {"8.4", QStringLiteral("not an address"), QStringLiteral("not an address")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " " + c.address.toStdString());
        platform::DeviceProfile::setSystemVersionForTesting(QString::fromLatin1(c.system));
        EXPECT_EQ(KRLegacyPlayableCDNURLString(c.address), c.expected);
    }
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("6.1"));
    QVariantMap s{{QStringLiteral("base_url"), onCDN}};
    EXPECT_TRUE(KRDASHStreamURLString(s).startsWith(QLatin1String("http://upos-sz-01.")));
}

TEST_F(DASHStreamsTest, ProgressiveCandidatesForCaching)
{
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("7.1"));
    const QString onCDN = QStringLiteral("https://a.%1/v.mp4").arg(cdn(1));
    const QVariantMap entry{{QStringLiteral("url"), onCDN},
                            {QStringLiteral("backup_url"),
                             QVariantList{QStringLiteral("https://b.other.test/v.mp4"), QString(), 12,
                                          QStringLiteral("ftp://c.other.test/v.mp4"), QStringLiteral("file:///etc/passwd"),
                                          QStringLiteral("http://a.%1/v.mp4").arg(cdn(1)), QStringLiteral("HTTPS://d.other.test/v.mp4"),
                                          QStringLiteral("https://b.other.test/v.mp4"), QStringLiteral("https:///nohost"),
                                          QStringLiteral("https://bad host.test/x")}}};
    EXPECT_EQ(KROfflineProgressiveCandidateURLStrings(entry),
              (QStringList{QStringLiteral("http://a.%1/v.mp4").arg(cdn(1)), QStringLiteral("https://b.other.test/v.mp4"),
                           QStringLiteral("HTTPS://d.other.test/v.mp4")}));
    EXPECT_TRUE(KROfflineProgressiveCandidateURLStrings(QVariant(QStringLiteral("https://a.test/v.mp4"))).isEmpty());
    EXPECT_TRUE(KROfflineProgressiveCandidateURLStrings(QVariantMap{{QStringLiteral("url"), QString()}}).isEmpty());
    EXPECT_EQ(KROfflineProgressiveCandidateURLStrings(QVariantMap{{QStringLiteral("backup_url"), QVariantList{QStringLiteral("https://b.test/1")}}}),
              QStringList{QStringLiteral("https://b.test/1")});
}

} // namespace

// The addresses a switch to a progressive quality tries in turn: the primary first, then the
// others in order, each made playable on the device, and an address that becomes one already
// listed (an encrypted and a plain copy on an old system) tried once, where it came first.
TEST_F(DASHStreamsTest, ASwitchsProgressiveCandidatesKeepTheirOrderAndTryEachPlayableAddressOnce)
{
    const QString secure = QStringLiteral("https://a.%1/v.mp4?e=1").arg(cdn(0));
    const QString plain = QStringLiteral("http://a.%1/v.mp4?e=1").arg(cdn(0));
    const QString backup = QStringLiteral("https://b.%1/v.mp4").arg(cdn(1));
    const QString elsewhere = QStringLiteral("https://media.other.test/v.mp4");

    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("8.4"));
    EXPECT_EQ(qualitySwitchProgressiveCandidatesWithPrimaryURL(secure, {QString(), plain, backup, elsewhere, backup}),
              (QStringList{plain, QStringLiteral("http://b.%1/v.mp4").arg(cdn(1)), elsewhere}));
    // Without a primary the others keep their order; nothing at all is an empty list.
    EXPECT_EQ(qualitySwitchProgressiveCandidatesWithPrimaryURL(QString(), {elsewhere, secure}), (QStringList{elsewhere, plain}));
    EXPECT_TRUE(qualitySwitchProgressiveCandidatesWithPrimaryURL(QString(), {QString(), QStringLiteral("")}).isEmpty());

    // A later system plays the encrypted address: the two copies are two candidates.
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("16.7"));
    EXPECT_EQ(qualitySwitchProgressiveCandidatesWithPrimaryURL(secure, {plain, secure, backup}), (QStringList{secure, plain, backup}));
}
