#pragma once

#include "playback/KROfflineCacheManager.h"

#include "model/KRServiceHosts.h"
#include "platform/device/BackgroundTask.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/FreeSpace.h"
#include "platform/foundation/PropertyList.h"
#include "store/KRDiagnostics.h"
#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace offlinetest {

namespace media = testsupport::MediaFixtures;

inline const QString kBVID = QStringLiteral("BV17x411w7KC");
inline const QString kKey = QStringLiteral("bv:BV17x411w7KC|cid:100");
inline constexpr qint64 kStartSeconds = 1700000000;
inline const QString kBase = QStringLiteral("bb516de2-1700000000");

inline std::shared_ptr<KRVideo> makeVideo(qint64 cid = 100, const QString& bvid = kBVID)
{
    auto video = std::make_shared<KRVideo>();
    video->setBvid(bvid);
    video->setAid(170001);
    video->setCid(cid);
    video->setTitle(QStringLiteral("离线测试"));
    video->setCoverURL(QStringLiteral("https://img.zantorel-img.test/cover.jpg"));
    video->setOwnerName(QStringLiteral("上传者"));
    video->setDanmakuCount(42);
    video->setPages({KRVideoPartInfo{{QStringLiteral("cid"), cid}, {QStringLiteral("page"), 1}, {QStringLiteral("part"), QVariant::fromValue(nullptr)}}});
    return video;
}

inline KROfflineCacheManager* manager() { return KROfflineCacheManager::sharedManager(); }
inline QString offlineDir() { return platform::Directories::documents() + QStringLiteral("/KorvaneOffline"); }
inline QString offlinePath(const QString& name) { return offlineDir() + QLatin1Char('/') + name; }

inline QString diagnosticsLog()
{
    QFile file(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline QVariantList storedIndex()
{
    QFile file(offlinePath(QStringLiteral("index.plist")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return platform::PropertyList::parse(file.readAll()).toList();
}

inline void writeIndex(const QVariantList& records)
{
    ASSERT_TRUE(platform::writeFileAtomically(offlinePath(QStringLiteral("index.plist")), platform::PropertyList::toXML(records)));
}

inline void touch(const QString& name, const QByteArray& bytes = "x")
{
    QDir().mkpath(QFileInfo(offlinePath(name)).absolutePath());
    QFile file(offlinePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A committed record as a download would have left it.
inline KROfflineRecord progressiveRecord(const QString& key, const QString& file, qint64 cid, qint64 aid = 170001)
{
    return {{QStringLiteral("key"), key},           {QStringLiteral("file_name"), file},
            {QStringLiteral("aid"), aid},           {QStringLiteral("cid"), cid},
            {QStringLiteral("quality_title"), QStringLiteral("720P")},
            {QStringLiteral("title"), QStringLiteral("t")},
            {QStringLiteral("download_state"), QStringLiteral("complete")},
            {QStringLiteral("danmaku_state"), QStringLiteral("cached")}};
}

inline KROfflineRecord dashRecord(const QString& key, const QString& base, qint64 cid, qint64 quality)
{
    KROfflineRecord record = progressiveRecord(key, QString(), cid);
    record.remove(QStringLiteral("file_name"));
    record.insert(QStringLiteral("media_kind"), QStringLiteral("dash"));
    record.insert(QStringLiteral("dash_video_file_name"), base + QStringLiteral(".video.m4v"));
    record.insert(QStringLiteral("dash_audio_file_name"), base + QStringLiteral(".audio.m4a"));
    record.insert(QStringLiteral("quality_value"), quality);
    return record;
}

// A small offline danmaku copy, so the prefetch of a download needs no network.
inline void writeDanmakuCopy(qint64 cid, int count)
{
    QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i>";
    for (int i = 0; i < count; ++i)
        body += "<d p=\"" + QByteArray::number(i + 1) + ".0,1,25,16777215,1700000000,0,abc,"
            + QByteArray::number(1000 + i) + "\">弹幕</d>";
    body += "</i>";
    touch(QStringLiteral("Danmaku/%1.xml").arg(cid), body);
}

struct Outcome {
    // Whom the download's progress and completion are for.
    QObject owner;
    bool done = false;
    bool success = false;
    QString message;
    int calls = 0;
    QList<float> progress;

    KROfflineCacheManager::ProgressBlock progressBlock()
    {
        return [this](float fraction) { progress.append(fraction); };
    }
    KROfflineCacheManager::CompletionBlock completionBlock()
    {
        return [this](bool ok, const QString& text) {
            ++calls;
            done = true;
            success = ok;
            message = text;
        };
    }
};

class OfflineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KROfflineCacheManager::resetForTesting();
        KROfflineCacheManager::setClockForTesting([] { return QDateTime::fromSecsSinceEpoch(kStartSeconds); });
        KRDiagnostics::resetForTesting();
        platform::FreeSpace::setOverrideForTesting(std::nullopt);
    }
    void TearDown() override
    {
        KROfflineCacheManager::resetForTesting();
        KROfflineCacheManager::setClockForTesting({});
        platform::FreeSpace::setOverrideForTesting(std::nullopt);
    }

    QString mediaURL(const QString& path, const QString& host = media::primaryHost()) const
    {
        return QStringLiteral("https://%1%2").arg(host, path);
    }
    // Generated bytes served from disk at host/path.
    QByteArray serve(const QString& path, qint64 size, quint32 seed = 1, media::Serving serving = {},
                     const QString& host = media::primaryHost())
    {
        const QString file = media::writeGeneratedFile(
            testsupport::testHome() + QStringLiteral("/media") + path + QStringLiteral("-%1").arg(seed), size, seed);
        media::serveFile(service, host, path, file, serving);
        return media::generatedBytes(size, seed);
    }

    testsupport::FakeService service{media::hosts()};
};

} // namespace offlinetest
