#include "playback/OfflineTesting.h"

#include "platform/foundation/NotificationCenter.h"

using namespace offlinetest;

namespace {

TEST(OfflineKeys, KeysAndBaseNamesComeFromIdentityAndCid)
{
    struct Case {
        const char* name;
        QString bvid;
        qint64 aid;
        qint64 cid;
        QString key;
        QString hash;
    };
    const Case cases[] = {
        {"bvid", kBVID, 0, 100, kKey, QStringLiteral("bb516de2")},
        {"aid only", QString(), 170001, 279786, QStringLiteral("aid:170001|cid:279786"), QStringLiteral("82886a59")},
        {"no cid", kBVID, 0, 0, QString(), QString()},
    };
    for (const Case& c : cases) {
        KRVideo video;
        video.setBvid(c.bvid);
        video.setAid(c.aid);
        video.setCid(c.cid);
        EXPECT_EQ(KROfflineVideoKey(&video), c.key) << c.name;
        if (!c.key.isNull()) {
            EXPECT_EQ(KROfflineBaseName(c.key, 1234), c.hash + QStringLiteral("-1234")) << c.name;
        }
    }
    EXPECT_TRUE(KROfflineVideoKey(static_cast<const KRVideo*>(nullptr)).isNull());

    // A title stands for the identity of a video without ids; the key is what the index can
    // store, or a finished download would never be found again.
    KRVideo titled;
    titled.setCid(7);
    titled.setTitle(QStringLiteral("t") + QChar(0) + QStringLiteral("n") + QChar(0xD800));
    EXPECT_EQ(KROfflineVideoKey(&titled), QStringLiteral("title:tn") + QChar(0xFFFD) + QStringLiteral("||cid:7"));
}

TEST(OfflineKeys, CandidatesAreUniqueHTTPAddressesInOrder)
{
    const QString a = QStringLiteral("https://a.test/v.mp4");
    const QString b = QStringLiteral("http://b.test/v.mp4");
    EXPECT_EQ(KROfflineProgressiveCandidates({QStringLiteral("ftp://a.test/v.mp4"), QString(), a, a, b}), (QStringList{a, b}));
    EXPECT_TRUE(KROfflineProgressiveCandidates({QStringLiteral("file:///x.mp4"), QStringLiteral("javascript:1")}).isEmpty());
}

TEST(OfflineKeys, ProgressOfEachKindOfTransfer)
{
    EXPECT_FLOAT_EQ(KROfflineDownloadProgress(false, 0, 50, 100), 0.5f);
    EXPECT_FLOAT_EQ(KROfflineDownloadProgress(false, 0, 500, 100), 1.0f);
    EXPECT_FLOAT_EQ(KROfflineDownloadProgress(false, 0, 50, 0), 0.0f);
    EXPECT_FLOAT_EQ(KROfflineDownloadProgress(true, 0, 50, 100), 0.425f);
    EXPECT_FLOAT_EQ(KROfflineDownloadProgress(true, 1, 50, 100), 0.925f);
}

TEST(OfflineKeys, OnlyPlainFileNamesAreUsed)
{
    for (const QString& bad : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../x.mp4"),
                               QStringLiteral("/etc/passwd"), QStringLiteral("a/b.mp4"), QStringLiteral("a") + QChar(0) + QStringLiteral("b")})
        EXPECT_FALSE(KROfflineIsPlainFileName(bad)) << bad.toStdString();
    EXPECT_TRUE(KROfflineIsPlainFileName(QStringLiteral("bb516de2-1.mp4")));
    EXPECT_TRUE(KROfflineIsPlainFileName(QStringLiteral("...mp4")));
    // Names of the store's own entries are never a record's media.
    for (const QString& own : {QStringLiteral("index.plist"), QStringLiteral(".index.plist.a1B2c3"), QStringLiteral("Danmaku"),
                               QStringLiteral("bb516de2-1.mp4.part")})
        EXPECT_FALSE(KROfflineIsPlainFileName(own)) << own.toStdString();
    EXPECT_TRUE(KROfflineIsPlainFileName(QStringLiteral("index.plist.mp4")));
}

class OfflineStoreTest : public OfflineTest {};

TEST_F(OfflineStoreTest, CleaningReadDropsADASHRecordWhosePictureIsGoneAndRewritesTheIndex)
{
    touch(QStringLiteral("k1.mp4"));
    touch(QStringLiteral("d2.audio.m4a"));
    writeIndex({progressiveRecord(QStringLiteral("bv:A|cid:1"), QStringLiteral("k1.mp4"), 1),
                dashRecord(QStringLiteral("bv:B|cid:2"), QStringLiteral("d2"), 2, 80), QStringLiteral("not a record")});
    const KRVideoList videos = manager()->cachedVideos();
    ASSERT_EQ(videos.size(), 1);
    EXPECT_EQ(videos.first()->cid(), 1);
    EXPECT_EQ(videos.first()->playURL(), QUrl::fromLocalFile(offlinePath(QStringLiteral("k1.mp4"))).toString());
    EXPECT_EQ(videos.first()->tname(), QStringLiteral("720P · 离线"));
    const QVariantList stored = storedIndex();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first().toMap().value(QStringLiteral("key")), QStringLiteral("bv:A|cid:1"));
}

// A list reads the directory once for all its records: what it finds there must be what a
// lookup of each file would find, links included, and each record's video carries all it kept.
TEST_F(OfflineStoreTest, AListFindsEachRecordsFilesAsALookupWouldAndKeepsEveryField)
{
    manager();
    const QString elsewhere = testsupport::testHome() + QStringLiteral("/elsewhere.mp4");
    media::writeGeneratedFile(elsewhere, 10);
    touch(QStringLiteral("plain-1.mp4"));
    touch(QStringLiteral("with space 离线.mp4"));
    touch(QStringLiteral("plain-1.jpg"));
    ASSERT_TRUE(QFile::link(elsewhere, offlinePath(QStringLiteral("linked.mp4"))));
    ASSERT_TRUE(QFile::link(testsupport::testHome() + QStringLiteral("/gone.mp4"), offlinePath(QStringLiteral("dangling.mp4"))));

    KROfflineRecord full = progressiveRecord(QStringLiteral("bv:A|cid:1"), QStringLiteral("plain-1.mp4"), 1, 11);
    const QVariantList pages{QVariantMap{{QStringLiteral("cid"), 1}, {QStringLiteral("part"), QStringLiteral("P1 开头")}}};
    const QList<std::pair<const char*, QVariant>> fields{
        {"resolved_aid", 12},
        {"bvid", QStringLiteral("BV1full")},
        {"tid", 13},
        {"copyright", 2},
        {"title", QStringLiteral("全部字段")},
        {"owner_name", QStringLiteral("上传者")},
        {"owner_mid", 14},
        {"owner_avatar_url", QStringLiteral("https://img.test/a.jpg")},
        {"publish_timestamp", 1700000123.5},
        {"duration_text", QStringLiteral("04:12")},
        {"play_count", 15},
        {"danmaku_count", 16},
        {"statistics_known", true},
        {"page_count", 1},
        {"pages", pages},
        {"summary", QStringLiteral("简介")},
        {"width", 1920},
        {"height", 1080},
        {"quality_value", 80},
        {"cover_file_name", QStringLiteral("plain-1.jpg")},
        {"cover_url", QStringLiteral("https://img.test/c.jpg")}};
    for (const auto& [key, value] : fields)
        full.insert(QLatin1String(key), value);
    KROfflineRecord spaced = progressiveRecord(QStringLiteral("bv:B|cid:2"), QStringLiteral("with space 离线.mp4"), 2);
    spaced.insert(QStringLiteral("cover_file_name"), QStringLiteral("missing.jpg"));
    spaced.insert(QStringLiteral("cover_url"), QStringLiteral("https://img.test/b.jpg"));
    spaced.insert(QStringLiteral("quality_title"), QString());
    writeIndex({full, spaced, progressiveRecord(QStringLiteral("bv:C|cid:3"), QStringLiteral("linked.mp4"), 3),
                progressiveRecord(QStringLiteral("bv:D|cid:4"), QStringLiteral("dangling.mp4"), 4),
                progressiveRecord(QStringLiteral("bv:E|cid:5"), QStringLiteral("absent.mp4"), 5)});

    for (const bool listing : {false, true}) {
        const KRVideoList videos = listing ? manager()->offlineVideos() : manager()->cachedVideos();
        ASSERT_EQ(videos.size(), 3) << "a dangling link and a missing file are not there";
        EXPECT_EQ(videos[0]->cid(), 1);
        EXPECT_EQ(videos[1]->cid(), 2);
        EXPECT_EQ(videos[2]->cid(), 3) << "a link to a file is";
        for (const auto& [video, name] : {std::pair{videos[0], QStringLiteral("plain-1.mp4")},
                                          std::pair{videos[1], QStringLiteral("with space 离线.mp4")},
                                          std::pair{videos[2], QStringLiteral("linked.mp4")}})
            EXPECT_EQ(video->playURL(), QUrl::fromLocalFile(offlinePath(name)).toString());
        const KRVideo& v = *videos[0];
        EXPECT_EQ(v.aid(), 11);
        EXPECT_EQ(v.resolvedAid(), 12);
        EXPECT_EQ(v.bvid(), QStringLiteral("BV1full"));
        EXPECT_EQ(v.tid(), 13);
        EXPECT_EQ(v.copyright(), 2);
        EXPECT_EQ(v.title(), QStringLiteral("全部字段"));
        EXPECT_EQ(v.ownerName(), QStringLiteral("上传者"));
        EXPECT_EQ(v.ownerMID(), 14);
        EXPECT_EQ(v.ownerAvatarURL(), QStringLiteral("https://img.test/a.jpg"));
        EXPECT_DOUBLE_EQ(v.publishTimestamp(), 1700000123.5);
        EXPECT_EQ(v.durationText(), QStringLiteral("04:12"));
        EXPECT_EQ(v.playCount(), 15);
        EXPECT_EQ(v.danmakuCount(), 16);
        EXPECT_TRUE(v.statisticsKnown());
        EXPECT_EQ(v.pageCount(), 1);
        ASSERT_EQ(v.pages().size(), 1);
        EXPECT_EQ(v.pages().first().value(QStringLiteral("part")), QStringLiteral("P1 开头"));
        EXPECT_EQ(v.summary(), QStringLiteral("简介"));
        EXPECT_EQ(v.width(), 1920);
        EXPECT_EQ(v.height(), 1080);
        EXPECT_EQ(v.playbackQuality(), 80);
        EXPECT_EQ(v.coverURL(), QUrl::fromLocalFile(offlinePath(QStringLiteral("plain-1.jpg"))).toString()) << "its own cover";
        EXPECT_EQ(v.tname(), QStringLiteral("720P · 离线"));
        EXPECT_EQ(videos[1]->coverURL(), QStringLiteral("https://img.test/b.jpg")) << "a cover file gone: the address";
        EXPECT_EQ(videos[1]->tname(), QStringLiteral("离线"));
    }
}

TEST_F(OfflineStoreTest, BinaryIndexIsReadAndMalformedIndexIsAnEmptyStore)
{
    touch(QStringLiteral("k1.mp4"));
    ASSERT_TRUE(platform::writeFileAtomically(offlinePath(QStringLiteral("index.plist")),
                                              platform::PropertyList::toBinary(QVariantList{
                                                  progressiveRecord(QStringLiteral("bv:A|cid:1"), QStringLiteral("k1.mp4"), 1)})));
    EXPECT_EQ(manager()->cachedVideos().size(), 1);
    ASSERT_TRUE(platform::writeFileAtomically(offlinePath(QStringLiteral("index.plist")), "<plist><array><dict>"));
    EXPECT_TRUE(manager()->cachedVideos().isEmpty());
}

// Only DASH records store a code; a progressive one, written now or long ago, names its
// quality by its title alone.
TEST_F(OfflineStoreTest, EveryCopyReadsItsQualityFromWhatItsRecordKnows)
{
    struct Case {
        const char* title;
        qint64 value; // 0: not stored
        qint32 quality;
    };
    const Case cases[] = {{"720P", 0, 64}, {"高清 1080P+", 0, 112}, {"自动", 0, 0}, {"720P", 16, 16}, {"杜比视界", 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        touch(QStringLiteral("p.mp4"));
        KROfflineRecord record = progressiveRecord(kKey, QStringLiteral("p.mp4"), 100);
        record.insert(QStringLiteral("quality_title"), QString::fromUtf8(c.title));
        if (c.value > 0)
            record.insert(QStringLiteral("quality_value"), c.value);
        writeIndex({record});
        const KRVideoList videos = manager()->cachedVideos();
        ASSERT_EQ(videos.size(), 1);
        EXPECT_EQ(videos.first()->playbackQuality(), c.quality);
        EXPECT_EQ(videos.first()->tname(), QString::fromUtf8(c.title) + QStringLiteral(" · 离线"));
    }
}

TEST_F(OfflineStoreTest, LocalDASHPlayInformationDefaultsToQuality80)
{
    touch(QStringLiteral("d.video.m4v"));
    touch(QStringLiteral("d.audio.m4a"));
    KROfflineRecord record = dashRecord(kKey, QStringLiteral("d"), 100, 0);
    record.insert(QStringLiteral("bvid"), kBVID); // the cached copy's key is made from it again
    writeIndex({record});
    const KROfflineDASHPlayInfo info = manager()->cachedDASHPlaybackInfoForVideo(*makeVideo());
    EXPECT_EQ(info.value(QStringLiteral("quality")).toLongLong(), 80);
    const QVariantMap dash = info.value(QStringLiteral("dash")).toMap();
    const QVariantMap picture = dash.value(QStringLiteral("video")).toList().value(0).toMap();
    const QVariantMap sound = dash.value(QStringLiteral("audio")).toList().value(0).toMap();
    EXPECT_EQ(picture.value(QStringLiteral("id")).toLongLong(), 80);
    EXPECT_EQ(picture.value(QStringLiteral("codecid")).toInt(), 7);
    EXPECT_EQ(picture.value(QStringLiteral("codecs")), QStringLiteral("avc1.640028"));
    EXPECT_EQ(sound.value(QStringLiteral("id")).toInt(), 30280);
    EXPECT_EQ(sound.value(QStringLiteral("codecs")), QStringLiteral("mp4a.40.2"));
    for (const QVariantMap& track : {picture, sound}) {
        const QUrl url(track.value(QStringLiteral("base_url")).toString());
        EXPECT_EQ(track.value(QStringLiteral("baseUrl")), track.value(QStringLiteral("base_url")));
        EXPECT_TRUE(url.isLocalFile());
        EXPECT_TRUE(QFileInfo::exists(url.toLocalFile()));
    }
    // A progressive record has no DASH information.
    touch(QStringLiteral("p.mp4"));
    writeIndex({progressiveRecord(kKey, QStringLiteral("p.mp4"), 100)});
    EXPECT_TRUE(manager()->cachedDASHPlaybackInfoForVideo(*makeVideo()).isEmpty());
}

TEST_F(OfflineStoreTest, MatchingFindsByCidAloneAndRefusesAnAmbiguousAid)
{
    touch(QStringLiteral("a.mp4"));
    touch(QStringLiteral("b.mp4"));
    writeIndex({progressiveRecord(QStringLiteral("aid:5|cid:11"), QStringLiteral("a.mp4"), 11, 5),
                progressiveRecord(QStringLiteral("aid:5|cid:12"), QStringLiteral("b.mp4"), 12, 5)});
    KRVideo byCid;
    byCid.setAid(999);
    byCid.setCid(12);
    ASSERT_TRUE(manager()->cachedVideoMatchingVideo(byCid));
    EXPECT_EQ(manager()->cachedVideoMatchingVideo(byCid)->cid(), 12);
    KRVideo byAid;
    byAid.setAid(5);
    EXPECT_EQ(manager()->cachedVideoMatchingVideo(byAid), nullptr);
    KRVideo missing;
    missing.setCid(13);
    EXPECT_EQ(manager()->cachedVideoMatchingVideo(missing), nullptr);
}

TEST_F(OfflineStoreTest, DeletingAVideoWhoseMediaIsGoneStillSucceeds)
{
    manager(); // running already when the media went
    writeDanmakuCopy(100, 3);
    touch(kBase + QStringLiteral(".jpg"));
    KROfflineRecord record = progressiveRecord(kKey, kBase + QStringLiteral(".mp4"), 100);
    record.insert(QStringLiteral("cover_file_name"), kBase + QStringLiteral(".jpg"));
    writeIndex({record});
    int notifications = 0;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        KROfflineCacheDidChangeNotification, manager(), [&](const platform::Notification&) { ++notifications; });

    testsupport::ConsoleCapture console;
    KROptionalError error;
    EXPECT_TRUE(manager()->removeCachedVideo(*makeVideo(), &error)) << (error ? error->description().toStdString() : "");
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] delete key=") + kKey));
    EXPECT_FALSE(QFileInfo::exists(offlinePath(QStringLiteral("Danmaku/100.xml"))));
    EXPECT_FALSE(QFileInfo::exists(offlinePath(kBase + QStringLiteral(".jpg"))));
    EXPECT_TRUE(storedIndex().isEmpty());
    EXPECT_EQ(notifications, 1);

    EXPECT_FALSE(manager()->removeCachedVideo(*makeVideo(), &error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(KROfflineCacheErrorDomain, -20));
    EXPECT_EQ(error->message(), QStringLiteral("未找到这条离线缓存"));
}

TEST_F(OfflineStoreTest, StoredNamesNeverReachOutsideTheStore)
{
    manager();
    const QString outside = testsupport::testHome() + QStringLiteral("/Documents/precious.txt");
    QFile(outside).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFileInfo::exists(outside));
    KROfflineRecord record = progressiveRecord(kKey, QStringLiteral("../precious.txt"), 100);
    record.insert(QStringLiteral("cover_file_name"), outside);
    record.insert(QStringLiteral("dash_audio_file_name"), QStringLiteral(".."));
    writeIndex({record});
    // A name outside the store counts as missing, so the record is not a cached video...
    EXPECT_FALSE(manager()->isVideoCached(*makeVideo()));
    // ...and deleting what is left of it touches nothing outside.
    writeIndex({record});
    KROptionalError error;
    EXPECT_TRUE(manager()->removeCachedVideo(*makeVideo(), &error));
    EXPECT_TRUE(QFileInfo::exists(outside));
    EXPECT_TRUE(QFileInfo::exists(offlineDir()));
}

// Only a planted or damaged index names the store's own entries; deleting such a record must
// neither erase the index (and so every other download at the next start) nor fail forever.
TEST_F(OfflineStoreTest, ARecordNamingTheStoresOwnEntriesNeverTouchesThem)
{
    manager();
    const auto otherVideo = makeVideo(2);
    const auto danmakuVideo = makeVideo(300);
    const QString otherFile = QStringLiteral("0000abcd-1.mp4");
    touch(otherFile);
    writeDanmakuCopy(7, 1);
    const KROfflineRecord other = progressiveRecord(KROfflineVideoKey(otherVideo), otherFile, 2);
    const KROfflineRecord namesIndex = progressiveRecord(kKey, QStringLiteral("index.plist"), 100);
    const KROfflineRecord namesDanmaku = progressiveRecord(KROfflineVideoKey(danmakuVideo), QStringLiteral("Danmaku"), 300);
    writeIndex({namesIndex, namesDanmaku, other});
    EXPECT_FALSE(manager()->isVideoCached(*makeVideo())) << "the index is not its media";
    EXPECT_FALSE(manager()->isVideoCached(*danmakuVideo)) << "nor is the danmaku folder";

    KROptionalError error;
    writeIndex({namesDanmaku, other});
    EXPECT_TRUE(manager()->removeCachedVideo(*danmakuVideo, &error)) << (error ? error->description().toStdString() : "");
    EXPECT_TRUE(QFileInfo(offlinePath(QStringLiteral("Danmaku"))).isDir());
    writeIndex({namesIndex, other});
    EXPECT_TRUE(manager()->removeCachedVideo(*makeVideo(), &error)) << (error ? error->description().toStdString() : "");
    ASSERT_EQ(storedIndex().size(), 1);
    EXPECT_EQ(storedIndex().first().toMap().value(QStringLiteral("key")).toString(), KROfflineVideoKey(otherVideo));

    KROfflineCacheManager::resetForTesting();
    manager();
    EXPECT_TRUE(QFileInfo::exists(offlinePath(otherFile))) << "the next start keeps the other download";
    EXPECT_TRUE(manager()->isVideoCached(*otherVideo));
}

TEST_F(OfflineStoreTest, StartUpPurgeRemovesLeftoversOnlyWhenTheIndexWasReadOrIsAbsent)
{
    struct Case {
        const char* name;
        QByteArray index; // empty: no index file
        bool purges;
    };
    const QString kept = QStringLiteral("0000abcd-1.mp4");
    const Case cases[] = {
        {"valid index", platform::PropertyList::toXML(QVariantList{progressiveRecord(kKey, kept, 100)}), true},
        {"missing index", QByteArray(), true},
        {"malformed index", "<plist><array>", false},
        {"index not an array", platform::PropertyList::toXML(QVariantMap{{QStringLiteral("a"), 1}}), false},
    };
    const QStringList orphans{QStringLiteral("0123abcd-17.mp4"), QStringLiteral("0123abcd-17.video.m4v"),
                              QStringLiteral("0123abcd-17.audio.m4a"), QStringLiteral("0123abcd-17.jpg")};
    const QStringList strangers{QStringLiteral("notes.txt"), QStringLiteral("0123ABCD-17.mp4"), QStringLiteral("0123abcd-17.mkv")};
    for (const Case& c : cases) {
        KROfflineCacheManager::resetForTesting();
        QDir(offlineDir()).removeRecursively();
        for (const QString& name : orphans + strangers + QStringList{kept, QStringLiteral("x.mp4.part")})
            touch(name);
        if (!c.index.isEmpty()) {
            ASSERT_TRUE(platform::writeFileAtomically(offlinePath(QStringLiteral("index.plist")), c.index));
        }
        manager();
        for (const QString& name : orphans)
            EXPECT_EQ(QFileInfo::exists(offlinePath(name)), !c.purges) << c.name << " " << name.toStdString();
        for (const QString& name : strangers)
            EXPECT_TRUE(QFileInfo::exists(offlinePath(name))) << c.name << " " << name.toStdString();
        // Only a record keeps a file of ours through a purge.
        EXPECT_EQ(QFileInfo::exists(offlinePath(kept)), !c.purges || !c.index.isEmpty()) << c.name;
        EXPECT_FALSE(QFileInfo::exists(offlinePath(QStringLiteral("x.mp4.part")))) << c.name;
    }
}

TEST_F(OfflineStoreTest, DeleteAllEmptiesTheStore)
{
    manager();
    writeDanmakuCopy(100, 1);
    touch(QStringLiteral("a.mp4"));
    writeIndex({progressiveRecord(kKey, QStringLiteral("a.mp4"), 100), progressiveRecord(QStringLiteral("k"), QStringLiteral("gone.mp4"), 7)});
    testsupport::ConsoleCapture console;
    KROptionalError error;
    ASSERT_TRUE(manager()->removeAllCachedVideos(&error));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] delete-all records=2")));
    EXPECT_EQ(QDir(offlineDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{QStringLiteral("index.plist")});
    QFile index(offlinePath(QStringLiteral("index.plist")));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    const QVariant parsed = platform::PropertyList::parse(index.readAll());
    EXPECT_EQ(parsed.typeId(), QMetaType::QVariantList);
    EXPECT_TRUE(parsed.toList().isEmpty());
}

TEST_F(OfflineStoreTest, ByteCountSkipsTheIndexAndNeverFollowsLinks)
{
    manager();
    touch(QStringLiteral("a.mp4"), QByteArray(1000, 'a'));
    touch(QStringLiteral("Danmaku/1.xml"), QByteArray(24, 'd'));
    touch(QStringLiteral("b.part"), QByteArray(5, 'p'));
    writeIndex({});
    const QString big = testsupport::testHome() + QStringLiteral("/big.bin");
    media::writeGeneratedFile(big, 100000);
    ASSERT_TRUE(QFile::link(big, offlinePath(QStringLiteral("link.mp4"))));
    QDir().mkpath(testsupport::testHome() + QStringLiteral("/elsewhere"));
    media::writeGeneratedFile(testsupport::testHome() + QStringLiteral("/elsewhere/x.bin"), 5000);
    ASSERT_TRUE(QFile::link(testsupport::testHome() + QStringLiteral("/elsewhere"), offlinePath(QStringLiteral("folder"))));
    EXPECT_EQ(manager()->cachedByteCount(), 1029);
}

TEST_F(OfflineStoreTest, DanmakuStateFallsBackToTheRecordThenPending)
{
    touch(QStringLiteral("a.mp4"));
    KROfflineRecord record = progressiveRecord(kKey, QStringLiteral("a.mp4"), 100);
    record.insert(QStringLiteral("danmaku_state"), QStringLiteral("failed"));
    writeIndex({record});
    EXPECT_EQ(manager()->danmakuStateForVideo(*makeVideo()), QStringLiteral("failed"));
    EXPECT_EQ(manager()->danmakuStateForVideo(*makeVideo(101)), QStringLiteral("pending"));
    writeDanmakuCopy(100, 2);
    EXPECT_EQ(manager()->danmakuStateForVideo(*makeVideo()), QStringLiteral("cached"));
}

} // namespace
