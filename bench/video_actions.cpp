// What acting on the video page shows, beside bare baselines in the same run:
// - the favourite folder picker with 200 folders from memory (load its view, lay out, render,
//   one tick toggled) vs. a bare kit table of 200 classic grouped rows configured by hand;
// - the offline list of 100 records read from the index (load its view, lay out, render) vs.
//   reading the index and filling bare cells.
// Aim: within 1.25× each; printed at the end beside the aim.

#include "BenchSupport.h"
#include "BenchWidgets.h"
#include "library/KRAccountVideoListViewController.h"
#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/ViewController.h"
#include "playback/KROfflineCacheManager.h"
#include "service/KRServiceShutdown.h"
#include "shared/KRClassicSettingsCell.h"
#include "video/KRFavoriteFolderPickerViewController.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSet>

#include <functional>

#include <benchmark/benchmark.h>

using namespace platform::uikit;

namespace {

constexpr int kFolders = 200;
constexpr int kRecords = 100;
constexpr qreal kFolderRowHeight = 58;
double g_pickerRatio = 0;
double g_offlineRatio = 0;

// The median ratio of `screen` to `bare` over the benchmark's iterations, five drained calls
// of each per iteration.
template <typename Bare, typename Screen>
double medianRatio(benchmark::State& state, Bare bare, Screen screen)
{
    std::vector<double> ratios, bares, screens;
    for (auto _ : state) {
        const double baseline = benchsupport::microsecondsPerDrainedCall(bare, 5);
        const double measured = benchsupport::microsecondsPerDrainedCall(screen, 5);
        ratios.push_back(measured / baseline);
        bares.push_back(baseline / 1000);
        screens.push_back(measured / 1000);
    }
    const double ratio = benchsupport::median(ratios);
    state.counters["ratio"] = ratio;
    state.counters["bare_ms"] = benchsupport::median(bares);
    state.counters["screen_ms"] = benchsupport::median(screens);
    return ratio;
}

// A screen's view loaded on its own at the phone's size, laid out and painted, then `shown`
// run on it; the screen goes afterwards. Pushing it would measure the navigation's slide
// and bar too, which are the kit's.
template <typename Screen>
void loadRenderAndDelete(Screen* screen, const std::function<void()>& shown = {})
{
    View* view = screen->view();
    view->setFrame(QRectF(0, 0, 375, 603));
    view->layoutIfNeeded();
    if (shown)
        shown();
    benchsupport::renderOffscreen(view);
    delete screen;
}

QVariantList folders()
{
    QVariantList list;
    for (int i = 0; i < kFolders; ++i)
        list.append(QVariantMap{{QStringLiteral("id"), 81000 + i},
                                {QStringLiteral("title"), QStringLiteral("收藏夹 %1").arg(i)},
                                {QStringLiteral("media_count"), i * 3},
                                {QStringLiteral("fav_state"), i % 7 == 0 ? 1 : 0}});
    return list;
}

// The baseline: the same rows, configured by hand in a bare grouped table.
class ClassicRows : public TableViewDataSource, public TableViewDelegate {
public:
    explicit ClassicRows(const QVariantList& folders) : m_folders(folders) {}
    int numberOfRowsInSection(TableView*, int) override { return int(m_folders.size()); }
    TableViewCell* cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath) override
    {
        auto* cell = static_cast<KRClassicSettingsCell*>(table->dequeueReusableCellWithIdentifier(QStringLiteral("folder")));
        if (!cell)
            cell = new KRClassicSettingsCell(TableViewCellStyleSubtitle, QStringLiteral("folder"));
        configure(cell, indexPath.row);
        return cell;
    }
    void didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath) override
    {
        if (!m_ticked.remove(indexPath.row))
            m_ticked.insert(indexPath.row);
        if (auto* cell = static_cast<KRClassicSettingsCell*>(table->cellForRowAtIndexPath(indexPath)))
            configure(cell, indexPath.row);
    }

private:
    void configure(KRClassicSettingsCell* cell, int row)
    {
        const KRTheme* theme = KRTheme::sharedTheme();
        const QVariantMap folder = m_folders.value(row).toMap();
        cell->textLabel()->setText(folder.value(QStringLiteral("title")).toString());
        cell->textLabel()->setTextColor(theme->primaryTextColor());
        cell->detailTextLabel()->setText(QStringLiteral("%1 个内容").arg(folder.value(QStringLiteral("media_count")).toLongLong()));
        cell->detailTextLabel()->setTextColor(theme->secondaryTextColor());
        cell->setAccessoryType(m_ticked.contains(row) ? TableViewCellAccessoryCheckmark : TableViewCellAccessoryNone);
        cell->applyThemeBackgrounds(row == 0, row == m_folders.size() - 1, kFolderRowHeight);
    }

    QVariantList m_folders;
    QSet<int> m_ticked;
};

void BM_FolderPickerVersusClassicRowsByHand(benchmark::State& state)
{
    const QVariantList list = folders();
    g_pickerRatio = medianRatio(
        state,
        [&] {
            ClassicRows rows(list);
            TableView table(QRectF(0, 0, 375, 603), TableViewStyleGrouped);
            table.setRowHeight(kFolderRowHeight);
            table.setDataSource(&rows);
            table.setTableDelegate(&rows);
            table.reloadData();
            table.layoutIfNeeded();
            benchsupport::renderOffscreen(&table);
            rows.didSelectRowAtIndexPath(&table, IndexPath{0, 1});
            table.layoutIfNeeded();
            benchsupport::renderOffscreen(&table);
        },
        [&] {
            auto* picker = new KRFavoriteFolderPickerViewController(170001, QStringLiteral("在家做的猫爬架"), {});
            loadRenderAndDelete(picker, [&] {
                picker->showFoldersForTesting(list);
                picker->view()->layoutIfNeeded();
                benchsupport::renderOffscreen(picker->view());
                picker->didSelectRowAtIndexPath(picker->tableView(), IndexPath{0, 1});
            });
        });
}
BENCHMARK(BM_FolderPickerVersusClassicRowsByHand)->Unit(benchmark::kMillisecond)->Iterations(7);

QString offlineDirectory() { return platform::Directories::documents() + QStringLiteral("/KorvaneOffline"); }

// An index of complete progressive records, each with its (tiny) file, as downloads leave them.
bool writeOfflineIndex()
{
    QDir().mkpath(offlineDirectory());
    QVariantList records;
    for (int i = 0; i < kRecords; ++i) {
        const QString name = QStringLiteral("bench%1-1700000000.mp4").arg(i);
        QFile file(offlineDirectory() + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("x");
        records.append(QVariantMap{{QStringLiteral("key"), QStringLiteral("bv:BV1bench%1|cid:%2").arg(i).arg(900000 + i)},
                                   {QStringLiteral("file_name"), name},
                                   {QStringLiteral("aid"), 700000 + i},
                                   {QStringLiteral("bvid"), QStringLiteral("BV1bench%1").arg(i)},
                                   {QStringLiteral("cid"), 900000 + i},
                                   {QStringLiteral("title"), QStringLiteral("离线视频 %1 · P1 一段不短的分 P 标题").arg(i)},
                                   {QStringLiteral("quality_title"), QStringLiteral("720P")},
                                   {QStringLiteral("duration_text"), QStringLiteral("04:12")},
                                   {QStringLiteral("download_state"), QStringLiteral("complete")},
                                   {QStringLiteral("danmaku_state"), QStringLiteral("cached")}});
    }
    return platform::writeFileAtomically(offlineDirectory() + QStringLiteral("/index.plist"), platform::PropertyList::toXML(records));
}

// The baseline: the index read and parsed, its titles in bare cells.
class IndexRows : public TableViewDataSource {
public:
    int numberOfRowsInSection(TableView*, int) override { return int(records.size()); }
    TableViewCell* cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath) override
    {
        TableViewCell* cell = table->dequeueReusableCellWithIdentifier(QStringLiteral("offline"));
        if (!cell)
            cell = new TableViewCell(TableViewCellStyleSubtitle, QStringLiteral("offline"));
        const QVariantMap record = records.value(indexPath.row).toMap();
        cell->textLabel()->setFont(Label::systemFont(15, true));
        cell->textLabel()->setText(record.value(QStringLiteral("title")).toString());
        cell->detailTextLabel()->setText(record.value(QStringLiteral("quality_title")).toString() + QStringLiteral(" · 离线"));
        return cell;
    }
    QVariantList records;
};

void BM_OfflineListVersusIndexInBareCells(benchmark::State& state)
{
    KROfflineCacheManager::sharedManager();
    if (!writeOfflineIndex()) {
        state.SkipWithError("could not write the index");
        return;
    }
    g_offlineRatio = medianRatio(
        state,
        [] {
            IndexRows rows;
            QFile index(offlineDirectory() + QStringLiteral("/index.plist"));
            if (index.open(QIODevice::ReadOnly))
                rows.records = platform::PropertyList::parse(index.readAll()).toList();
            View root(QRectF(0, 0, 375, 603));
            auto* table = new TableView(root.bounds(), TableViewStylePlain, &root);
            table->setRowHeight(60);
            table->setDataSource(&rows);
            table->reloadData();
            root.layoutIfNeeded();
            benchsupport::renderOffscreen(&root);
        },
        [] { loadRenderAndDelete(new KRAccountVideoListViewController()); });
}
BENCHMARK(BM_OfflineListVersusIndexInBareCells)->Unit(benchmark::kMillisecond)->Iterations(7);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().prepare(benchsupport::onPhoneWithManualAnimations).report([] {
        if (g_pickerRatio > 0)
            std::printf("folder picker, 200 folders / classic rows by hand: %.2fx (aim: within 1.25x)\n", g_pickerRatio);
        if (g_offlineRatio > 0)
            std::printf("offline list, 100 records / index in bare cells: %.2fx (aim: within 1.25x)\n", g_offlineRatio);
        KRShutDownServices();
    }));
}
