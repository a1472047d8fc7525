// Costs of comment text with inline emotes against bare text layout, in one run, over a page
// of 200 comments of which a third carry emotes:
// - KRCommentCell::heightForComment at 375 with the height cache cleared, vs. QTextLayout of
//   the same display strings (307 wide, the same font, character wrap, lines counted);
//   aim ≤ 1.25×, the middle ratio of 31 rounds whose first side alternates;
// - the same with the cache warm, aim ≤ 0.1×: over the first 100 rows, since the cache holds
//   128 heights and a pass over all 200 in order would evict each before it is asked again;
// - ten rows painted, 375 wide and wholly inside the picture, vs. QTextLayout::draw of their
//   texts, each row's round avatar and each row's themed background, both drawn from pictures
//   prepared at their size (the kit's image views keep their rounded and stretched renderings
//   the same way); aim ≤ 1.5×. The rows sit in one plain view painted in one pass, as a window
//   paints the rows it shows, on the screen a shown table is on: a widget outside any window
//   looks its screen up by position for every painter, a cost no row on screen pays.
// The ratios are printed at the end, beside their aims.

#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "shared/KRCommentCell.h"
#include "shared/KRInlineEmoteLabel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTextOption>

#include <cstdio>
#include <memory>
#include <vector>

using namespace platform::uikit;

namespace {

constexpr int kComments = 200;
constexpr int kPaintedRows = 10;
constexpr qreal kTableWidth = 375;
constexpr qreal kTextWidth = 307;

KREmoteMap emotes()
{
    KREmoteMap map;
    // Addresses of the offline store that do not exist: a load fails at once, off the network.
    for (const char* token : {"[笑]", "[赞]", "[哭泣]"})
        map.insert(QString::fromUtf8(token), QVariantMap{{QStringLiteral("text"), QString::fromUtf8(token)},
                                                         {QStringLiteral("url"), QStringLiteral("file:///nonexistent/emote.png")}});
    return map;
}

const std::vector<std::shared_ptr<KRComment>>& page()
{
    static const std::vector<std::shared_ptr<KRComment>> comments = [] {
        std::vector<std::shared_ptr<KRComment>> list;
        const KREmoteMap map = emotes();
        for (int i = 0; i < kComments; ++i) {
            auto c = std::make_shared<KRComment>();
            c->setRpid(i + 1);
            c->setAuthorName(QStringLiteral("观众%1").arg(i));
            QString message = QStringLiteral("第%1条评论：这个视频做得真好，").arg(i) + QString(QStringLiteral("讲得清楚又有趣。")).repeated(1 + i % 5);
            if (i % 3 == 0) {
                message += QStringLiteral("[笑][赞]") + QStringLiteral("下次还来[哭泣]");
                c->setEmotes(map);
            }
            c->setMessage(message);
            c->setLikeCount(i * 3);
            list.push_back(c);
        }
        return list;
    }();
    return comments;
}

// What the baseline lays out: each comment's display string.
const std::vector<QString>& displayStrings()
{
    static const std::vector<QString> strings = [] {
        std::vector<QString> list;
        for (const auto& c : page())
            list.push_back(KRInlineEmoteParse(c->message(), c->emotes()).value(QStringLiteral("text")).toString());
        return list;
    }();
    return strings;
}

constexpr int kWarmRows = 100;
constexpr int kColdRounds = 31;

double kitHeights(bool clearCache, int rows = kComments)
{
    return benchsupport::microsecondsPerCall(
        [clearCache, rows] {
            if (clearCache)
                KRInlineEmoteHeightCache().clear();
            qreal sum = 0;
            for (int i = 0; i < rows; ++i)
                sum += KRCommentCell::heightForComment(*page()[i], kTableWidth, false);
            benchmark::DoNotOptimize(sum);
        },
        5);
}

double bareHeights(int rows = kComments)
{
    const QFont font = Label::systemFont(13);
    return benchsupport::microsecondsPerCall(
        [&] {
            int lines = 0;
            for (int i = 0; i < rows; ++i)
                lines += benchsupport::bareCharacterWrapLineCount(displayStrings()[i], font, kTextWidth);
            benchmark::DoNotOptimize(lines);
        },
        5);
}

struct PaintedRows {
    // The rows stacked in one plain view as tall as they are, painted in one pass as a
    // window paints the rows it shows.
    View table{QRectF(0, 0, kTableWidth, 1)};
    std::vector<KRCommentCell*> cells;
    PaintedRows()
    {
        table.setScreen(QGuiApplication::primaryScreen());
        qreal y = 0;
        for (int i = 0; i < kPaintedRows; ++i) {
            auto* cell = new KRCommentCell();
            table.addSubview(cell);
            const auto& c = page()[i];
            const qreal h = KRCommentCell::heightForComment(*c, kTableWidth, false);
            cell->setFrame(QRectF(0, y, kTableWidth, h));
            cell->configureWithComment(c, false);
            cell->layoutSubviews();
            y += h;
            cells.push_back(cell);
        }
        table.setFrame(QRectF(0, 0, kTableWidth, y));
    }
};

double kitPaint(PaintedRows& rows, QImage& target)
{
    return benchsupport::microsecondsPerCall(
        [&] {
            QPainter p(&target);
            rows.table.render(&p);
        },
        20);
}

// The avatar placeholder masked to the avatar's circle, once.
QImage roundAvatar()
{
    QImage round(36, 36, QImage::Format_ARGB32_Premultiplied);
    round.fill(Qt::transparent);
    QPainter p(&round);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath circle;
    circle.addRoundedRect(QRectF(0, 0, 36, 36), 18, 18);
    p.setClipPath(circle);
    p.drawImage(QRectF(0, 0, 36, 36), KRCommentAvatarPlaceholder().image());
    return round;
}

// The theme's row background stretched over a row of that size (its edges kept), once.
QImage rowBackground(const QSize& size)
{
    QImage row(size, QImage::Format_ARGB32_Premultiplied);
    row.fill(Qt::transparent);
    QPainter p(&row);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    KRTheme::sharedTheme()->surfaceBackgroundImage().draw(p, QRectF(QPointF(), QSizeF(size)));
    return row;
}

// The same texts as prepared layouts and the avatars, drawn at the rows' places.
struct BareRows {
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    std::vector<QPointF> origins;
    std::vector<QPointF> avatars;
    QImage avatar = roundAvatar();
    std::vector<QImage> backgrounds;
    std::vector<QPointF> rowOrigins;
    BareRows(const PaintedRows& rows)
    {
        for (int i = 0; i < kPaintedRows; ++i) {
            const auto& c = page()[i];
            const qreal top = rows.cells[i]->frame().top();
            backgrounds.push_back(rowBackground(rows.cells[i]->frame().size().toSize()));
            rowOrigins.push_back(QPointF(0, top));
            avatars.push_back(QPointF(10, top + 9));
            add(c->authorName(), Label::systemFont(12, true), QPointF(56, top + 7), kTextWidth);
            add(displayStrings()[i], Label::systemFont(13), QPointF(56, top + 29), kTextWidth);
            add(QStringLiteral("赞 %1").arg(c->likeCount()), Label::systemFont(10), QPointF(56, rows.cells[i]->frame().bottom() - 30), kTextWidth);
        }
    }
    void add(const QString& text, const QFont& font, const QPointF& at, qreal width)
    {
        auto layout = std::make_unique<QTextLayout>(text, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAnywhere);
        layout->setTextOption(option);
        layout->setCacheEnabled(true);
        layout->beginLayout();
        qreal y = 0;
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout->endLayout();
        layouts.push_back(std::move(layout));
        origins.push_back(at);
    }
};

double barePaint(BareRows& rows, QImage& target)
{
    return benchsupport::microsecondsPerCall(
        [&] {
            QPainter p(&target);
            for (size_t i = 0; i < rows.backgrounds.size(); ++i)
                p.drawImage(rows.rowOrigins[i], rows.backgrounds[i]);
            for (const QPointF& at : rows.avatars)
                p.drawImage(at, rows.avatar);
            for (size_t i = 0; i < rows.layouts.size(); ++i)
                rows.layouts[i]->draw(&p, rows.origins[i]);
        },
        20);
}

void BM_HeightsColdKit(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(kitHeights(true) / 1e6);
}
BENCHMARK(BM_HeightsColdKit)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(5);

void BM_HeightsWarmKit(benchmark::State& state)
{
    kitHeights(true, kWarmRows);
    for (auto _ : state)
        state.SetIterationTime(kitHeights(false, kWarmRows) / 1e6);
}
BENCHMARK(BM_HeightsWarmKit)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(5);

void BM_HeightsBaselineTextLayout(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(bareHeights() / 1e6);
}
BENCHMARK(BM_HeightsBaselineTextLayout)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(5);

void printRatios()
{
    PaintedRows painted;
    // Every row lands inside the picture, so both sides draw all of each row.
    QImage target(painted.table.frame().size().toSize(), QImage::Format_ARGB32_Premultiplied);
    BareRows bare(painted);
    kitPaint(painted, target);   // first paint lays the texts out, as a row's first showing does
    barePaint(bare, target);
    // The cold heights are the figure other work on the machine disturbs most: many short
    // rounds, the side measured first alternating between them, and their middle ratio.
    std::vector<double> cold;
    for (int round = 0; round < kColdRounds; ++round) {
        if (round % 2) {
            const double kit = kitHeights(true);
            cold.push_back(kit / bareHeights());
        } else {
            const double baseline = bareHeights();
            cold.push_back(kitHeights(true) / baseline);
        }
    }
    std::vector<double> warm, paint;
    for (int round = 0; round < 5; ++round) {
        kitHeights(true, kWarmRows);
        warm.push_back(kitHeights(false, kWarmRows) / bareHeights(kWarmRows));
        paint.push_back(kitPaint(painted, target) / barePaint(bare, target));
    }
    std::printf("ratio heights, cache cleared (kit / QTextLayout): %.2f (aim: within 1.25)\n", benchsupport::median(cold));
    std::printf("ratio heights of 100 rows, cache warm (kit / QTextLayout): %.2f (aim: within 0.1)\n", benchsupport::median(warm));
    std::printf("ratio ten rows painted (kit / QTextLayout::draw, avatars and backgrounds): %.2f (aim: within 1.5)\n",
                benchsupport::median(paint));
}

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().report(printRatios));
}
