// The local history over a file it did not write (damaged, planted, from another version):
// the input is the file itself, or records built from it in either property-list form. Its
// videos read newest first; a viewing recorded over it is saved with the records the file
// held (at most the newest 500), and a new process reads back what the store showed.
#include "FuzzInput.h"

#include "model/KRVideo.h"
#include "platform/foundation/PropertyList.h"
#include "store/KRLocalHistoryStore.h"

#include <QFile>

#include <cmath>
#include <cstring>

namespace {

KRLocalHistoryStore& history() { return KRLocalHistoryStore::sharedStore(); }

const char* const kIdentities[] = {"av170001|cid:1", "BV17x411w7KC|cid:2", "url:file:///x.mp4|cid:0", "title:视频|cid:3", ""};

double numberFrom(fuzz::InputReader& input)
{
    const uint8_t pick = input.byte();
    switch (pick % 5) {
    case 0: return double(pick);
    case 1: return std::nan("");
    case 2: return pick & 0x80 ? INFINITY : -INFINITY;
    case 3: {
        const uint64_t bits = input.integer();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    default: return 1.7e9 + double(pick);
    }
}

QVariant valueFrom(fuzz::InputReader& input, int depth)
{
    const uint8_t pick = input.byte();
    switch (pick % 8) {
    case 0: return numberFrom(input);
    case 1: return qint64(input.integer());
    case 2: return QString::fromUtf8(input.chunk(12));
    case 3: return bool(pick & 0x80);
    case 4: return input.chunk(8);
    case 5: {
        QVariantList list;
        for (int i = pick >> 5; i > 0 && depth < 3; --i)
            list.append(valueFrom(input, depth + 1));
        return list;
    }
    case 6: {
        QVariantMap map;
        for (int i = pick >> 5; i > 0 && depth < 3; --i)
            map.insert(QString::fromUtf8(input.chunk(6)), valueFrom(input, depth + 1));
        return map;
    }
    default: return QVariant();
    }
}

const char* const kKeys[] = {"history_progress", "history_duration", "view_at", "completed", "offline", "aid",
                             "bvid", "cid", "title", "pages", "owner", "stat", "statistics_known", "duration_text",
                             "season_id", "ep_id", "business", "play_url", "dimension", "resolved_aid"};

QVariantMap recordsFrom(fuzz::InputReader& input)
{
    QVariantMap records;
    for (int count = input.byte() % 8; count > 0 && !input.atEnd(); --count) {
        const uint8_t which = input.byte();
        const QString identity = which % 6 == 5 ? QString::fromUtf8(input.chunk(16))
                                                : QString::fromLatin1(kIdentities[which % 6 % 5]);
        QVariantMap record;
        for (int fields = input.byte() % 8; fields > 0 && !input.atEnd(); --fields) {
            const QString key = QString::fromLatin1(kKeys[input.byte() % std::size(kKeys)]);
            record.insert(key, key == QLatin1String("view_at") || key.startsWith(QLatin1String("history_")) ? QVariant(numberFrom(input))
                                                                                                              : valueFrom(input, 0));
        }
        records.insert(identity, which & 0x80 ? QVariant(record) : valueFrom(input, 1));
    }
    return records;
}

std::shared_ptr<KRVideo> watched()
{
    auto video = std::make_shared<KRVideo>();
    video->setBvid(QStringLiteral("BV17x411w7KC"));
    video->setAid(170001);
    video->setCid(2);
    video->setTitle(QStringLiteral("回放"));
    return video;
}

void plant(const QByteArray& data)
{
    QFile file(history().storePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        fuzz::fail("the history file is planted");
}

void checkNewestFirst()
{
    const QList<std::shared_ptr<KRVideo>> videos = history().historyVideos();
    fuzz::check(videos.size() <= history().recordCount(), "no more videos than records");
    for (qsizetype i = 1; i < videos.size(); ++i)
        fuzz::check(!(videos[i - 1]->historyViewAt() < videos[i]->historyViewAt()), "the history reads newest first");
    for (const std::shared_ptr<KRVideo>& video : videos)
        fuzz::check(std::isfinite(video->historyViewAt()) && std::isfinite(video->historyProgress())
                        && std::isfinite(video->historyDuration()),
                    "a history's times are numbers");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    const uint8_t mode = input.byte();
    QByteArray file;
    if (mode & 1) {
        file = input.rest();
    } else {
        const QVariantMap records = recordsFrom(input);
        file = (mode & 2) ? platform::PropertyList::toBinary(records) : platform::PropertyList::toXML(records);
    }
    plant(file);
    history().resetForTesting();
    const int read = history().recordCount();
    checkNewestFirst();

    const std::shared_ptr<KRVideo> video = watched();
    history().resumeRecordForVideo(video);
    history().recordVideo(video, double(mode), 600, mode & 4, mode & 8);
    const int shown = history().recordCount();
    fuzz::check(shown <= std::max(read + 1, KRLocalHistoryStore::maximumRecordCount), "the history keeps its bound");
    fuzz::check(history().resumeRecordForVideo(video).has_value(), "a recorded viewing is kept");
    checkNewestFirst();

    // The save holds every record the store showed.
    history().resetForTesting();
    fuzz::check(history().recordCount() == shown, "a new process reads back every record shown");
    fuzz::check(history().resumeRecordForVideo(video).has_value(), "a recorded viewing is saved");
    return 0;
}
