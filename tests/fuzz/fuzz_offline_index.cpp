// The offline store over an index it did not write (planted, damaged, from another version):
// records built from the input name files among the store's media, its own entries and paths
// out of it; or the input is the index file itself. Start-up, queries and deletions must
// never touch a file outside the store, the index or the danmaku folder as media, nor cost
// another download its record.
#include "FuzzApplication.h"
#include "FuzzInput.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "playback/KROfflineCacheManager.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace {

const char* const kNames[] = {"0123abcd-1.mp4", "0123abcd-2.video.m4v", "0123abcd-2.audio.m4a", "0123abcd-3.jpg",
                              "index.plist", "Danmaku", "0123abcd-4.mp4.part", "../outside.txt", "..", ".",
                              "Danmaku/1.xml", "", "missing.mp4"};
constexpr int kNameCount = int(std::size(kNames));

// The process keeps one home: its paths are looked up once, not at every use of every input.
const QString& documents()
{
    static const QString path = platform::Directories::documents();
    return path;
}
const QString& store()
{
    static const QString path = documents() + QStringLiteral("/KorvaneOffline");
    return path;
}
QString inStore(const QString& name) { return store() + u'/' + name; }

const char* const kPlanted[] = {"0123abcd-1.mp4", "0123abcd-2.video.m4v", "0123abcd-2.audio.m4a", "0123abcd-3.jpg",
                                "0123abcd-4.mp4.part", "Danmaku/1.xml", "Danmaku/2.xml"};

void touch(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
        fuzz::fail("a planted file is written");
}

// The store as every input finds it: the planted files and nothing else. Only what the last
// input changed is put back; an unchanged file is left as it is.
void restoreStore()
{
    static const QSet<QString> planted = [] {
        QSet<QString> names;
        for (const char* name : kPlanted)
            names.insert(QLatin1String(name));
        return names;
    }();
    if (!QFileInfo(inStore(QStringLiteral("Danmaku"))).isDir()) {
        QDir(store()).removeRecursively();
        QDir().mkpath(inStore(QStringLiteral("Danmaku")));
    }
    for (const QString& folder : {store(), inStore(QStringLiteral("Danmaku"))}) {
        const QString prefix = folder == store() ? QString() : QStringLiteral("Danmaku/");
        for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden)) {
            const QString name = prefix + entry.fileName();
            if (name == QLatin1String("Danmaku") || planted.contains(name))
                continue;
            if (entry.isDir() && !entry.isSymLink())
                QDir(entry.filePath()).removeRecursively();
            else
                QFile::remove(entry.filePath());
        }
    }
    for (const QString& name : planted) {
        const QFileInfo file(inStore(name));
        if (!file.isFile() || file.size() != 1)
            touch(file.filePath());
    }
    const QString outside = documents() + QStringLiteral("/outside.txt");
    if (!QFileInfo::exists(outside))
        touch(outside);
}

// The index as the input gives it; the planting needs no sync, only the store's own writes.
void plantIndex(const QByteArray& index)
{
    QFile file(inStore(QStringLiteral("index.plist")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(index) != index.size())
        fuzz::fail("the index is written");
}

QString nameFrom(fuzz::InputReader& input)
{
    const uint8_t pick = input.byte();
    if (pick % (kNameCount + 1) == kNameCount)
        return QString::fromUtf8(input.chunk(16));
    return QString::fromLatin1(kNames[pick % (kNameCount + 1)]);
}

KRVideo videoOf(int which)
{
    KRVideo video;
    video.setBvid(QStringLiteral("BV17x411w7K%1").arg(which));
    video.setAid(170001);
    video.setCid(which + 1);
    return video;
}

QString keyOf(int which)
{
    const KRVideo video = videoOf(which);
    return KROfflineVideoKey(&video);
}

QVariantList recordsFrom(fuzz::InputReader& input)
{
    QVariantList records;
    for (int count = input.byte() % 6; count > 0 && !input.atEnd(); --count) {
        const uint8_t shape = input.byte();
        const int which = shape % 4;
        QVariantMap record{{QStringLiteral("key"), keyOf(which)},
                           {QStringLiteral("cid"), qint64(which + 1)},
                           {QStringLiteral("aid"), qint64(170001)},
                           {QStringLiteral("title"), QStringLiteral("t")}};
        if (shape & 0x10) {
            record.insert(QStringLiteral("media_kind"), QStringLiteral("dash"));
            record.insert(QStringLiteral("dash_video_file_name"), nameFrom(input));
            record.insert(QStringLiteral("dash_audio_file_name"), nameFrom(input));
        } else {
            record.insert(QStringLiteral("file_name"), nameFrom(input));
        }
        if (shape & 0x20)
            record.insert(QStringLiteral("cover_file_name"), nameFrom(input));
        if (shape & 0x40)
            record.insert(QStringLiteral("cid"), QString::fromUtf8(input.chunk(8)));
        records.append(record);
    }
    return records;
}

// The media names a record points at, as the store would use them.
QSet<QString> mediaOf(const QVariantMap& record)
{
    QSet<QString> names;
    for (const char* key : {"file_name", "dash_video_file_name", "dash_audio_file_name", "cover_file_name"}) {
        const QString name = record.value(QLatin1String(key)).toString();
        if (!name.isEmpty())
            names.insert(name);
    }
    return names;
}

QVariantList readIndex()
{
    const std::optional<QByteArray> data = platform::readFile(inStore(QStringLiteral("index.plist")));
    return data ? platform::PropertyList::parse(*data).toList() : QVariantList();
}

void checkSurroundings()
{
    fuzz::check(QFileInfo::exists(documents() + QStringLiteral("/outside.txt")), "nothing outside the store is touched");
    fuzz::check(QFileInfo(inStore(QStringLiteral("Danmaku"))).isDir(), "the danmaku folder is never a download's media");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    fuzz::InputReader input(data, size);
    const uint8_t mode = input.byte();

    KROfflineCacheManager::resetForTesting();
    restoreStore();

    QByteArray index;
    if (mode & 1) {
        index = input.rest();
    } else {
        const QVariantList records = recordsFrom(input);
        index = (mode & 2) ? platform::PropertyList::toBinary(records) : platform::PropertyList::toXML(records);
    }
    if (!index.isEmpty())
        plantIndex(index);

    KROfflineCacheManager* manager = KROfflineCacheManager::sharedManager();
    checkSurroundings();
    for (const std::shared_ptr<KRVideo>& video : manager->cachedVideos()) {
        for (const QString& address : {video->playURL(), video->coverURL()}) {
            const QUrl url(address);
            if (!url.isLocalFile())
                continue;
            const QString path = QFileInfo(url.toLocalFile()).absoluteFilePath();
            fuzz::check(path.startsWith(store() + u'/') && !path.mid(store().size() + 1).contains(u'/'),
                        "a cached video's files are plain files of the store");
            fuzz::check(QFileInfo(path).fileName() != QLatin1String("index.plist"), "the index is no video's media");
        }
    }
    manager->offlineVideos();

    for (int which = 0; which < 4; ++which) {
        const KRVideo video = videoOf(which);
        manager->isVideoCached(video);
        manager->cachedDASHPlaybackInfoForVideo(video);
        manager->danmakuStateForVideo(video);

        // Whatever the deleted record names, every other one that was whole stays.
        const QVariantList before = readIndex();
        QSet<QString> deletedMedia;
        bool stored = false;
        for (const QVariant& entry : before) {
            if (entry.toMap().value(QStringLiteral("key")) == keyOf(which)) {
                deletedMedia = mediaOf(entry.toMap());
                stored = true;
                break;
            }
        }
        KROptionalError error;
        const bool removed = manager->removeCachedVideo(video, &error);
        fuzz::check(removed || error.has_value(), "a deletion that fails says why");
        fuzz::check(removed || !stored, "a stored download can be deleted");
        checkSurroundings();
        if (!removed)
            continue;
        fuzz::check(QFileInfo::exists(inStore(QStringLiteral("index.plist"))), "a deletion leaves an index");
        const QVariantList after = readIndex();
        for (const QVariant& entry : before) {
            const QVariantMap record = entry.toMap();
            if (record.value(QStringLiteral("key")) == keyOf(which) || mediaOf(record).intersects(deletedMedia))
                continue;
            // Only records whose media are all there are kept by the deletion's cleaning read.
            bool whole = !mediaOf(record).isEmpty();
            for (const QString& name : mediaOf(record))
                whole = whole && KROfflineIsPlainFileName(name) && QFileInfo(inStore(name)).isFile();
            const bool dash = record.value(QStringLiteral("media_kind")) == QLatin1String("dash");
            if (whole && (dash ? record.contains(QStringLiteral("dash_audio_file_name")) : record.contains(QStringLiteral("file_name"))))
                fuzz::check(after.contains(entry), "deleting one download keeps the others");
        }
    }
    KROfflineCacheManager::resetForTesting();
    return 0;
}
