// Normalising reply payloads into videos, each beside the bare JSON parse of the same bytes
// (the floor). Aim: normalising costs no more than parsing the JSON itself.
#include "model/KRJSON.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"

#include <benchmark/benchmark.h>

#include <QJsonDocument>

namespace {

QVariant jsonNull() { return QVariant::fromValue(nullptr); }

// One item of the home recommendation feed, in the shape the feed sends.
QVariantMap feedItem(int i)
{
    const qint64 aid = 1000000000LL + i * 7919;
    return QVariantMap{
        {"id", aid}, {"aid", aid}, {"bvid", QStringLiteral("BV1%1x411w7KC").arg(QChar(u"ABCDEFGH"[i % 8])).left(12)},
        {"cid", 200000000LL + i}, {"goto", "av"},
        {"uri", QStringLiteral("https://www.zantorel.test/video/av%1").arg(aid)},
        {"pic", QStringLiteral("//i%1.zantorel-img.test/bfs/archive/%2.jpg").arg(i % 3).arg(aid)},
        {"title", i % 5 == 0 ? QStringLiteral("【第%1期】<em class=\"keyword\">推荐</em>的视频 &amp; 合集").arg(i)
                              : QStringLiteral("第%1期 每周精选：一个不算短的标题用来接近真实长度").arg(i)},
        {"duration", 60 + i * 37 % 4000}, {"pubdate", 1700000000LL + i * 3600},
        {"owner", QVariantMap{{"mid", 100000 + i}, {"name", QStringLiteral("UP主%1").arg(i)},
                              {"face", QStringLiteral("https://i0.zantorel-img.test/bfs/face/%1.jpg").arg(i)}}},
        {"stat", QVariantMap{{"view", 12345 + i * 101}, {"like", 321 + i}, {"danmaku", 45 + i}, {"vt", 0}}},
        {"av_feature", jsonNull()}, {"is_followed", 0},
        {"rcmd_reason", QVariantMap{{"content", i % 4 == 0 ? QStringLiteral("关注的UP") : QString()}, {"reason_type", i % 4 == 0 ? 1 : 0}}},
        {"show_info", 1}, {"track_id", QStringLiteral("web_pegasus_%1.router-web-pegasus-%2").arg(i).arg(aid)}, {"pos", 0},
        {"room_info", jsonNull()}, {"ogv_info", jsonNull()}, {"business_info", jsonNull()}, {"is_stock", 0},
        {"enable_vt", 0}, {"vt_display", ""}, {"dislike_switch", 1}, {"dislike_switch_pc", 0},
    };
}

// One item of a ranking or archive list, which carries more fields than the feed.
QVariantMap listItem(int i)
{
    QVariantMap item = feedItem(i);
    item.remove("goto");
    item["tid"] = 17 + i % 30;
    item["tname"] = QStringLiteral("单机游戏");
    item["copyright"] = 1 + i % 2;
    item["videos"] = 1 + i % 3;
    item["state"] = 0;
    item["ctime"] = 1700000000LL + i * 3600 - 60;
    item["desc"] = QStringLiteral("这是第%1个视频的简介，里面有一些文字，\n还有第二行。").arg(i);
    item["attribute"] = 16512;
    item["rights"] = QVariantMap{{"bp", 0}, {"elec", 0}, {"download", 0}, {"movie", 0}, {"pay", 0}, {"hd5", 1},
                                 {"no_reprint", 1}, {"autoplay", 1}, {"ugc_pay", 0}, {"is_cooperation", 0}};
    QVariantMap stat = item["stat"].toMap();
    stat.insert({{"aid", item["aid"]}, {"favorite", 10 + i}, {"coin", 5 + i}, {"share", 2 + i}, {"reply", 30 + i},
                 {"now_rank", 0}, {"his_rank", 0}, {"dislike", 0}});
    item["stat"] = stat;
    item["dynamic"] = "";
    item["dimension"] = QVariantMap{{"width", 1920}, {"height", 1080}, {"rotate", 0}};
    item["short_link_v2"] = QStringLiteral("https://z.test/%1").arg(item["bvid"].toString());
    item["first_frame"] = QStringLiteral("http://i1.zantorel-img.test/bfs/storyff/%1_firsti.jpg").arg(i);
    item["pub_location"] = QStringLiteral("上海");
    item["score"] = 0;
    return item;
}

QByteArray payloadBytes(const QVariantList& items, bool feed)
{
    QVariantMap data;
    if (feed)
        data = QVariantMap{{"item", items}, {"business_card", jsonNull()}, {"floor_info", jsonNull()}, {"user_feature", jsonNull()}, {"mid", 0}};
    else
        data = QVariantMap{{"note", QStringLiteral("根据稿件内容质量、近期的数据综合展示")}, {"list", items}};
    return KRJSONData(QVariantMap{{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}});
}

const QByteArray& feedBytes()
{
    static const QByteArray bytes = [] {
        QVariantList items;
        for (int i = 0; i < 20; ++i)
            items.append(feedItem(i));
        return payloadBytes(items, true);
    }();
    return bytes;
}

const QByteArray& listBytes()
{
    static const QByteArray bytes = [] {
        QVariantList items;
        for (int i = 0; i < 1000; ++i)
            items.append(listItem(i));
        return payloadBytes(items, false);
    }();
    return bytes;
}

void bareParse(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state) {
        QJsonDocument document = QJsonDocument::fromJson(bytes);
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
}

void normalise(benchmark::State& state, const QByteArray& bytes, qsizetype expected)
{
    const QVariant payload = KRJSONParse(bytes);
    if (KRVideoNormalizer::videosFromPayload(payload).size() != expected) {
        state.SkipWithError("fixture did not yield every video");
        return;
    }
    for (auto _ : state) {
        auto videos = KRVideoNormalizer::videosFromPayload(payload);
        benchmark::DoNotOptimize(videos);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
}

void parseIntoValues(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state) {
        QVariant payload = KRJSONParse(bytes);
        benchmark::DoNotOptimize(payload);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
}

void BM_Feed20_BareJSONParse(benchmark::State& state) { bareParse(state, feedBytes()); }
void BM_Feed20_Normalise(benchmark::State& state) { normalise(state, feedBytes(), 20); }
void BM_Feed20_ParseIntoValues(benchmark::State& state) { parseIntoValues(state, feedBytes()); }
void BM_List1000_BareJSONParse(benchmark::State& state) { bareParse(state, listBytes()); }
void BM_List1000_Normalise(benchmark::State& state) { normalise(state, listBytes(), 1000); }
void BM_List1000_ParseIntoValues(benchmark::State& state) { parseIntoValues(state, listBytes()); }

} // namespace

BENCHMARK(BM_Feed20_BareJSONParse);
BENCHMARK(BM_Feed20_Normalise);
BENCHMARK(BM_Feed20_ParseIntoValues);
BENCHMARK(BM_List1000_BareJSONParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List1000_Normalise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_List1000_ParseIntoValues)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
