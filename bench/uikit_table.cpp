// Costs of the kit's table against bare widgets doing the same visible work, in one run:
// - scrolling 1,000 rows of 86 points (an image view and three labels each) by 43 points a
//   step, each step rendered into a 375×667 image, vs. the same visible cells moved and
//   filled by hand and rendered alike;
// - reloadData of 100,000 rows vs. a loop summing their heights from the same delegate.
// The ratios are printed at the end (aim: within 1.25× of each baseline).

#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <vector>

using namespace platform::uikit;

namespace {

constexpr qreal kRowHeight = 86;
constexpr int kRows = 1000;
constexpr qreal kStep = 43;
const QSizeF kScreen(375, 667);

Image thumbnail()
{
    static const Image img = [] {
        QImage i(120, 75, QImage::Format_ARGB32_Premultiplied);
        i.fill(QColor(250, 115, 158));
        return Image(i);
    }();
    return img;
}

// The cell both sides draw: a thumbnail and three labels.
class VideoCell : public TableViewCell {
public:
    VideoCell() : TableViewCell(TableViewCellStyleDefault, QStringLiteral("video"))
    {
        thumb = new ImageView(QRectF(10, 5, 120, 75), contentView());
        title = new Label(QRectF(140, 8, 225, 22), contentView());
        owner = new Label(QRectF(140, 36, 225, 18), contentView());
        stats = new Label(QRectF(140, 58, 225, 18), contentView());
        owner->setFont(Label::systemFont(13));
        stats->setFont(Label::systemFont(12));
        thumb->setImage(thumbnail());
    }
    void fill(int row)
    {
        title->setText(QStringLiteral("第 %1 个视频的标题").arg(row));
        owner->setText(QStringLiteral("UP主 %1").arg(row % 97));
        stats->setText(QStringLiteral("%1 播放 · %2 弹幕").arg(row * 37).arg(row * 3));
    }
    ImageView* thumb;
    Label* title;
    Label* owner;
    Label* stats;
};

struct Source : TableViewDataSource, TableViewDelegate {
    int rows = kRows;
    int numberOfRowsInSection(TableView*, int) override { return rows; }
    TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath& ip) override
    {
        auto* cell = static_cast<VideoCell*>(t->dequeueReusableCellWithIdentifier(QStringLiteral("video")));
        if (!cell)
            cell = new VideoCell();
        cell->fill(ip.row);
        return cell;
    }
    qreal heightForRowAtIndexPath(TableView*, const IndexPath& ip) override { return kRowHeight + (ip.row % 7 == 0 ? 0.5 : 0); }
};

// One full scroll from the top to the end, one render per step.
double kitScroll(QImage& target)
{
    Source source;
    TableView table(QRectF(QPointF(), kScreen));
    table.setDataSource(&source);
    table.setTableDelegate(&source);
    table.reloadData();
    table.layoutIfNeeded();
    const qreal end = kRows * kRowHeight - kScreen.height();
    return benchsupport::microsecondsPerCall(
        [&] {
            for (qreal y = 0; y <= end; y += kStep) {
                table.setContentOffset(QPointF(0, y));
                table.render(&target);
            }
        },
        1);
}

// The same visible cells in a plain view, placed and filled by hand.
double bareScroll(QImage& target)
{
    View container(QRectF(QPointF(), kScreen));
    container.setBackgroundColor(QColor(Qt::white));
    const int slots = int(std::ceil(kScreen.height() / kRowHeight)) + 1;
    std::vector<VideoCell*> cells;
    std::vector<int> shownRow(slots, -1);
    for (int i = 0; i < slots; ++i) {
        auto* c = new VideoCell();
        container.addSubview(c);
        cells.push_back(c);
    }
    const qreal end = kRows * kRowHeight - kScreen.height();
    return benchsupport::microsecondsPerCall(
        [&] {
            for (qreal y = 0; y <= end; y += kStep) {
                const int first = int(y / kRowHeight);
                for (int i = 0; i < slots; ++i) {
                    const int row = first + i;
                    VideoCell* c = cells[row % slots];
                    if (row >= kRows) {
                        c->hide();
                        continue;
                    }
                    if (shownRow[row % slots] != row) {
                        c->fill(row);
                        shownRow[row % slots] = row;
                    }
                    c->setFrame(QRectF(0, row * kRowHeight - y, kScreen.width(), kRowHeight));
                    c->show();
                }
                container.render(&target);
            }
        },
        1);
}

double kitReload(Source& source, TableView& table)
{
    return benchsupport::microsecondsPerCall([&] { table.reloadData(); }, 5);
}

// The heights asked of the delegate as the table asks them, through its interface.
double bareHeights(Source& source, TableView& table)
{
    volatile qreal sink = 0;
    TableViewDelegate* delegate = &source;
    benchmark::DoNotOptimize(delegate);
    return benchsupport::microsecondsPerCall(
        [&] {
            qreal sum = 0;
            for (int r = 0; r < source.rows; ++r)
                sum += delegate->heightForRowAtIndexPath(&table, {0, r});
            sink = sum;
        },
        5);
}

void BM_TableScrollKit(benchmark::State& state)
{
    QImage target(kScreen.toSize(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        state.SetIterationTime(kitScroll(target) / 1e6);
}
BENCHMARK(BM_TableScrollKit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TableScrollBaselineBareWidgets(benchmark::State& state)
{
    QImage target(kScreen.toSize(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state)
        state.SetIterationTime(bareScroll(target) / 1e6);
}
BENCHMARK(BM_TableScrollBaselineBareWidgets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Reload100k(benchmark::State& state)
{
    Source source;
    source.rows = 100000;
    TableView table(QRectF(QPointF(), kScreen));
    table.setDataSource(&source);
    table.setTableDelegate(&source);
    for (auto _ : state)
        table.reloadData();
}
BENCHMARK(BM_Reload100k)->Unit(benchmark::kMicrosecond);

void BM_Reload100kBaselineHeightSum(benchmark::State& state)
{
    Source source;
    source.rows = 100000;
    TableView table(QRectF(QPointF(), kScreen));
    TableViewDelegate* delegate = &source;
    benchmark::DoNotOptimize(delegate);
    for (auto _ : state) {
        qreal sum = 0;
        for (int r = 0; r < source.rows; ++r)
            sum += delegate->heightForRowAtIndexPath(&table, {0, r});
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_Reload100kBaselineHeightSum)->Unit(benchmark::kMicrosecond);

void printRatios()
{
    QImage target(kScreen.toSize(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> scroll, reload;
    Source source;
    source.rows = 100000;
    TableView table(QRectF(QPointF(), kScreen));
    table.setDataSource(&source);
    table.setTableDelegate(&source);
    for (int round = 0; round < 5; ++round) {
        scroll.push_back(kitScroll(target) / bareScroll(target));
        reload.push_back(kitReload(source, table) / bareHeights(source, table));
    }
    std::printf("ratio scroll (kit / bare widgets): %.2f\n", benchsupport::median(scroll));
    std::printf("ratio reloadData 100k (kit / height sum): %.2f\n", benchsupport::median(reload));
}

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().report(printRatios));
}
