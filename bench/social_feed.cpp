// Costs of the dynamics feed against the bare work it is built on, in one run:
// - a page of 20 dynamics: the reply read and parsed into posts and every row's height asked (the
//   emote height cache cleared), vs. QJsonDocument parsing of the same reply and QTextLayout
//   of the 20 bodies (355 wide, the same font, character wrap, lines counted); aim ≤ 1.5×;
// - 200 rows of three pictures from the memory cache scrolled 43 points a step, each step
//   rendered at 375×667 through a table of dynamic rows, vs. the same visible rows placed and
//   filled by hand in a plain view and rendered alike; aim ≤ 1.25×.
// Each reports the median ratio as its counter; the last ones are printed at the end.

#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "model/KRDynamic.h"
#include "model/KRJSON.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "images/KRImageLoader.h"
#include "shared/KRInlineEmoteLabel.h"
#include "social/KRDynamicCell.h"
#include "support/DynamicFixtures.h"

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QJsonDocument>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QTextOption>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace platform::uikit;
namespace fixtures = testsupport::DynamicFixtures;

namespace {

constexpr int kPageDynamics = 20;
constexpr int kRows = 200;
constexpr int kPicturesPerRow = 3;
// Few enough distinct pictures for the loader's memory cache to hold them all.
constexpr int kDistinctPictures = 12;
constexpr qreal kStep = 43;
constexpr qreal kTableWidth = 375;
constexpr qreal kBodyWidth = kTableWidth - 20;
const QSizeF kScreen(375, 667);

QString bodyOf(int i)
{
    return QStringLiteral("第%1条动态：").arg(i) + QString(QStringLiteral("今天去看了展，人很多但值得。")).repeated(1 + i % 6);
}

// One reply of the feed with the four kinds of post the feed shows, as the service sends it.
const QByteArray& pageReply()
{
    static const QByteArray bytes = [] {
        QVariantList items;
        for (int i = 0; i < kPageDynamics; ++i) {
            const QString id = QString::number(710000 + i);
            QVariantMap item;
            switch (i % 4) {
            case 0: item = fixtures::pictureItem(id, bodyOf(i), 1 + i % 9); break;
            case 1: item = fixtures::textItem(id, bodyOf(i)); break;
            case 2: item = fixtures::videoItem(id, 180000 + i, bodyOf(i)); break;
            default:
                item = fixtures::repostItem(id, bodyOf(i), fixtures::videoItem(QString::number(610000 + i), 190000 + i, bodyOf(i + 1), 9002));
            }
            items.append(fixtures::withStats(item, i * 5, i % 3));
        }
        const QVariantMap data{{QStringLiteral("items"), items}, {QStringLiteral("has_more"), true}};
        return QJsonDocument::fromVariant(data).toJson(QJsonDocument::Compact);
    }();
    return bytes;
}

// What the baseline lays out: the text each parsed post shows.
const std::vector<QString>& pageBodies()
{
    static const std::vector<QString> bodies = [] {
        std::vector<QString> list;
        for (const auto& d : KRDynamic::dynamicsFromPayload(KRJSONParse(pageReply())))
            list.push_back(d->text());
        return list;
    }();
    return bodies;
}

double kitPage()
{
    return benchsupport::microsecondsPerCall(
        [] {
            KRInlineEmoteHeightCache().clear();
            // The reply read as the clients read every reply.
            const KRDynamicList dynamics = KRDynamic::dynamicsFromPayload(KRJSONParse(pageReply()));
            qreal sum = 0;
            for (const auto& d : dynamics)
                sum += KRDynamicCell::heightForDynamic(*d, kTableWidth, false);
            benchmark::DoNotOptimize(sum);
        },
        20);
}

double barePage()
{
    const QFont font = Label::systemFont(13);
    return benchsupport::microsecondsPerCall(
        [&] {
            const QJsonDocument document = QJsonDocument::fromJson(pageReply());
            benchmark::DoNotOptimize(document);
            int lines = 0;
            for (const QString& text : pageBodies())
                lines += benchsupport::bareCharacterWrapLineCount(text, font, kBodyWidth);
            benchmark::DoNotOptimize(lines);
        },
        20);
}

// Pictures of the offline store, put in the loader's memory cache before any scroll.
struct Pictures {
    QTemporaryDir dir;
    QStringList addresses;
    Pictures()
    {
        for (int i = 0; i < kDistinctPictures; ++i) {
            QImage picture(240, 240, QImage::Format_RGB32);
            picture.fill(QColor::fromHsv(i * 30 % 360, 150, 210));
            const QString path = dir.filePath(QStringLiteral("picture%1.png").arg(i));
            picture.save(path, "PNG");
            addresses << QUrl::fromLocalFile(path).toString();
        }
        int answered = 0;
        for (const QString& address : std::as_const(addresses))
            KRImageLoader::sharedLoader()->loadImageForURLString(address, nullptr, [&](const Image&) { ++answered; });
        while (answered < addresses.size())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
};

const KRDynamicList& feedRows(const Pictures& pictures)
{
    static const KRDynamicList rows = [&] {
        KRDynamicList list;
        for (int i = 0; i < kRows; ++i) {
            auto d = std::make_shared<KRDynamic>();
            d->setDynamicID(QString::number(720000 + i));
            d->setAuthorName(QStringLiteral("关注的人%1").arg(i % 40));
            d->setPublishText(QStringLiteral("%1小时前").arg(1 + i % 23));
            d->setText(bodyOf(i));
            QStringList urls;
            for (int p = 0; p < kPicturesPerRow; ++p)
                urls << pictures.addresses[(i + p) % kDistinctPictures];
            d->setPictureURLs(urls);
            d->setLikeCount(i * 7);
            d->setCommentCount(i % 5);
            list.push_back(d);
        }
        return list;
    }();
    return rows;
}

struct Source : TableViewDataSource, TableViewDelegate {
    const KRDynamicList& rows;
    std::vector<qreal> heights;
    explicit Source(const KRDynamicList& r) : rows(r)
    {
        for (const auto& d : rows)
            heights.push_back(KRDynamicCell::heightForDynamic(*d, kTableWidth, false));
    }
    int numberOfRowsInSection(TableView*, int) override { return int(rows.size()); }
    TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath& ip) override
    {
        auto* cell = static_cast<KRDynamicCell*>(t->dequeueReusableCellWithIdentifier(QStringLiteral("dynamic")));
        if (!cell)
            cell = new KRDynamicCell(TableViewCellStyleDefault, QStringLiteral("dynamic"));
        cell->configureWithDynamic(rows[ip.row]);
        return cell;
    }
    qreal heightForRowAtIndexPath(TableView*, const IndexPath& ip) override { return heights[ip.row]; }
};

// Whether every shown row ends with its pictures drawn: a scroll of empty frames measures
// nothing.
template <typename Cells>
bool picturesShown(const Cells& cells)
{
    int rows = 0;
    for (auto* cell : cells) {
        auto* row = static_cast<KRDynamicCell*>(cell);
        if (row->isHidden() || !row->dynamic())
            continue;
        ++rows;
        for (int p = 0; p < kPicturesPerRow; ++p)
            if (row->pictureViews()[p]->image().isNull())
                return false;
    }
    return rows > 0;
}

qreal contentHeight(const Source& source)
{
    qreal h = 0;
    for (qreal r : source.heights)
        h += r;
    return h;
}

// One full scroll from the top to the end, one render per step; the pictures a row asks for
// arrive from the memory cache through the event loop, as they do on screen.
double kitScroll(const Pictures& pictures, QImage& target, bool* ok)
{
    Source source(feedRows(pictures));
    TableView table(QRectF(QPointF(), kScreen));
    table.setDataSource(&source);
    table.setTableDelegate(&source);
    table.reloadData();
    table.layoutIfNeeded();
    const qreal end = contentHeight(source) - kScreen.height();
    return benchsupport::microsecondsPerCall(
        [&] {
            for (qreal y = 0; y <= end; y += kStep) {
                table.setContentOffset(QPointF(0, y));
                table.layoutIfNeeded();
                QCoreApplication::processEvents();
                table.render(&target);
            }
            *ok = picturesShown(table.visibleCells()) && *ok;
        },
        1);
}

// The same visible rows in a plain view, placed, filled and laid out by hand.
double bareScroll(const Pictures& pictures, QImage& target, bool* ok)
{
    Source source(feedRows(pictures));
    std::vector<qreal> tops{0};
    for (qreal h : source.heights)
        tops.push_back(tops.back() + h);
    const qreal shortest = *std::min_element(source.heights.begin(), source.heights.end());
    const int slots = int(std::ceil(kScreen.height() / shortest)) + 1;
    View container(QRectF(QPointF(), kScreen));
    container.setBackgroundColor(QColor(Qt::white));
    std::vector<KRDynamicCell*> cells;
    std::vector<int> shownRow(slots, -1);
    for (int i = 0; i < slots; ++i) {
        auto* c = new KRDynamicCell(TableViewCellStyleDefault, QStringLiteral("dynamic"));
        container.addSubview(c);
        cells.push_back(c);
    }
    const qreal end = tops.back() - kScreen.height();
    return benchsupport::microsecondsPerCall(
        [&] {
            for (qreal y = 0; y <= end; y += kStep) {
                const int first = int(std::upper_bound(tops.begin(), tops.end(), y) - tops.begin()) - 1;
                for (int i = 0; i < slots; ++i) {
                    const int row = first + i;
                    KRDynamicCell* c = cells[row % slots];
                    if (row >= kRows || tops[row] >= y + kScreen.height()) {
                        c->hide();
                        continue;
                    }
                    if (shownRow[row % slots] != row) {
                        c->configureWithDynamic(source.rows[row]);
                        shownRow[row % slots] = row;
                    }
                    c->setFrame(QRectF(0, tops[row] - y, kScreen.width(), source.heights[row]));
                    c->layoutIfNeeded();
                    c->show();
                }
                QCoreApplication::processEvents();
                container.render(&target);
            }
            *ok = picturesShown(cells) && *ok;
        },
        1);
}

Pictures& pictures()
{
    static Pictures shared;
    return shared;
}

double g_pageRatio = 0;
double g_scrollRatio = 0;

// Each iteration times the kit and its baseline back to back; the median of their ratios is
// the counter, so a disturbed round moves neither.
void BM_PageKitVersusJsonTextLayout(benchmark::State& state)
{
    pageBodies();
    kitPage();
    barePage();
    std::vector<double> ratios, kits, bares;
    for (auto _ : state) {
        const double kit = kitPage();
        const double bare = barePage();
        state.SetIterationTime(kit / 1e6);
        ratios.push_back(kit / bare);
        kits.push_back(kit);
        bares.push_back(bare);
    }
    g_pageRatio = benchsupport::median(ratios);
    state.counters["ratio"] = g_pageRatio;
    state.counters["kit_us"] = benchsupport::median(kits);
    state.counters["bare_us"] = benchsupport::median(bares);
}
BENCHMARK(BM_PageKitVersusJsonTextLayout)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(9);

void BM_FeedScrollKitVersusBareWidgets(benchmark::State& state)
{
    QImage target(kScreen.toSize(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> ratios, kits, bares;
    for (auto _ : state) {
        bool ok = true;
        const double kit = kitScroll(pictures(), target, &ok);
        const double bare = bareScroll(pictures(), target, &ok);
        if (!ok) {
            state.SkipWithError("a shown row lacked its pictures");
            return;
        }
        state.SetIterationTime(kit / 1e6);
        ratios.push_back(kit / bare);
        kits.push_back(kit / 1000);
        bares.push_back(bare / 1000);
    }
    g_scrollRatio = benchsupport::median(ratios);
    state.counters["ratio"] = g_scrollRatio;
    state.counters["kit_ms"] = benchsupport::median(kits);
    state.counters["bare_ms"] = benchsupport::median(bares);
}
BENCHMARK(BM_FeedScrollKitVersusBareWidgets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The last run's ratios (of the last repetition when repeated).
void printRatios()
{
    std::printf("ratio page of 20 dynamics, cache cleared (kit / QJsonDocument + QTextLayout): %.2f\n", g_pageRatio);
    std::printf("ratio scroll of 200 rows (kit / bare widgets): %.2f\n", g_scrollRatio);
}

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().report(printRatios));
}
