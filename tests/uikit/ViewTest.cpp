#include "KitTestSupport.h"

#include "platform/uikit/Button.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/View.h"

#include <QGuiApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QWindow>

using namespace platform::uikit;

class KitView : public KitTest {};

TEST_F(KitView, FrameBoundsAndTagsDepthFirst)
{
    View root(QRectF(0, 0, 100, 100));
    auto* a = new View(QRectF(10, 10, 50, 50), &root);
    auto* a1 = new View(QRectF(1, 2, 3, 4), a);
    auto* b = new View(QRectF(0, 60, 100, 40), &root);
    a1->setTag(7);
    b->setTag(7);
    root.setTag(3);
    EXPECT_EQ(root.viewWithTag(3), &root);
    EXPECT_EQ(root.viewWithTag(7), a1);  // depth first: a's subtree before b
    EXPECT_EQ(root.viewWithTag(99), nullptr);
    EXPECT_EQ(a->bounds(), QRectF(0, 0, 50, 50));
    EXPECT_EQ(a1->superview(), a);
    EXPECT_EQ(root.subviews(), (QList<View*>{a, b}));
    root.bringSubviewToFront(a);
    EXPECT_EQ(root.subviews(), (QList<View*>{b, a}));
    a->setBoundsOrigin(QPointF(0, 20));
    EXPECT_EQ(a1->geometry().topLeft(), QPoint(1, -18));  // subviews move with the bounds origin
    EXPECT_EQ(a1->frame(), QRectF(1, 2, 3, 4));
    EXPECT_EQ(a1->convertRectToView(QRectF(0, 0, 3, 4), &root), QRectF(11, -8, 3, 4));
    b->removeFromSuperview();
    EXPECT_EQ(b->superview(), nullptr);
    delete b;
}

TEST_F(KitView, AutoresizingFollowsTheParentsNewSize)
{
    View parent(QRectF(0, 0, 300, 200));
    auto* fill = new View(QRectF(10, 10, 280, 180), &parent);
    fill->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    auto* pinnedRight = new View(QRectF(250, 0, 40, 20), &parent);
    pinnedRight->setAutoresizingMask(AutoresizingFlexibleLeftMargin);
    auto* centred = new View(QRectF(100, 50, 100, 100), &parent);
    centred->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin);
    auto* fixed = new View(QRectF(5, 5, 10, 10), &parent);
    parent.setFrame(QRectF(0, 0, 400, 100));
    EXPECT_EQ(fill->frame(), QRectF(10, 10, 380, 80));
    EXPECT_EQ(pinnedRight->frame(), QRectF(350, 0, 40, 20));
    EXPECT_EQ(centred->frame(), QRectF(150, 50, 100, 100));
    EXPECT_EQ(fixed->frame(), QRectF(5, 5, 10, 10));
}

TEST_F(KitView, LayoutRunsOncePerRequestAndBeforeGrabsWhenAsked)
{
    struct Counting : View {
        int layouts = 0;
        void layoutSubviews() override { ++layouts; }
    } v;
    v.setNeedsLayout();
    v.setNeedsLayout();
    v.layoutIfNeeded();
    v.layoutIfNeeded();
    EXPECT_EQ(v.layouts, 1);
}

TEST_F(KitView, ButtonStatesKeepThePlatformValuesAndFallBackToNormal)
{
    EXPECT_EQ(int(ControlStateNormal), 0);
    EXPECT_EQ(int(ControlStateHighlighted), 1);
    EXPECT_EQ(int(ControlStateDisabled), 2);
    EXPECT_EQ(int(ControlStateSelected), 4);
    Button b(ButtonTypeCustom, QRectF(0, 0, 80, 30));
    b.setTitle(QStringLiteral("关注"), ControlStateNormal);
    b.setTitle(QStringLiteral("已关注"), ControlStateSelected);
    EXPECT_EQ(b.title(ControlStateHighlighted), QStringLiteral("关注"));
    EXPECT_EQ(b.title(ControlStateSelected | ControlStateHighlighted), QStringLiteral("已关注"));
    int taps = 0, downs = 0;
    b.addTarget(ControlEventTouchUpInside, [&] { ++taps; });
    b.addTarget(ControlEventTouchDown, [&] { ++downs; });
    b.tapForTesting();
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(downs, 1);
    b.setSelected(true);
    EXPECT_EQ(b.state(), int(ControlStateSelected));
    EXPECT_EQ(b.titleLabel()->text(), QStringLiteral("已关注"));
    b.setEnabled(false);
    b.tapForTesting();
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(b.state(), ControlStateSelected | ControlStateDisabled);
}

TEST_F(KitView, AButtonWhoseActionDestroysItStopsSafely)
{
    auto* b = new Button();
    int later = 0;
    b->addTarget(ControlEventTouchUpInside, [&] { delete b; });
    b->addTarget(ControlEventTouchUpInside, [&] { ++later; });
    b->tapForTesting();
    EXPECT_EQ(later, 0);
}

TEST_F(KitView, StretchableImagesDrawNineSliceAtTheirScale)
{
    // Left column red, stretch column green, right column blue; caps and sizes are in points.
    for (const int scale : {1, 2, 3}) {
        QImage src(5 * scale, 3 * scale, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x)
                src.setPixelColor(x, y, x < 2 * scale ? Qt::red : (x < 3 * scale ? Qt::green : Qt::blue));
        src.setDevicePixelRatio(scale);
        const Image img(src, 2, 1);
        EXPECT_EQ(img.size(), QSizeF(5, 3)) << scale;
        EXPECT_EQ(img.scale(), scale);
        EXPECT_EQ(img.leftCapWidth(), 2);
        EXPECT_EQ(img.topCapHeight(), 1);
        QImage out(40, 10, QImage::Format_ARGB32_Premultiplied);
        out.fill(Qt::transparent);
        QPainter p(&out);
        img.draw(p, QRectF(0, 0, 40, 10));
        p.end();
        EXPECT_EQ(out.pixelColor(1, 5), QColor(Qt::red)) << scale;
        EXPECT_EQ(out.pixelColor(20, 5), QColor(Qt::green)) << scale;
        EXPECT_EQ(out.pixelColor(38, 5), QColor(Qt::blue)) << scale;
        // An image view sizes to it and centres it in points.
        ImageView view(img);
        EXPECT_EQ(view.frame(), QRectF(0, 0, 5, 3)) << scale;
        EXPECT_EQ(rectForContentMode(ContentModeCenter, img.size(), QRectF(0, 0, 25, 13)), QRectF(10, 5, 5, 3));
    }
}

TEST_F(KitView, AStretchedImageKeptForItsSizeDrawsWhatADirectDrawWould)
{
    // A small gradient, so filtering shows; drawn directly (any mode but source-over, which on a
    // clear canvas "plus" equals) and through the kept rendering, sizes changing in between.
    QImage src(6, 4, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixelColor(x, y, QColor(40 * x, 60 * y, 200 - 30 * x, 255 - 20 * y));
    for (const Image& img : {Image(src), Image(src, 2, 1)}) {
        for (const qreal scale : {1.0, 2.0}) {
            for (const QRectF& target : {QRectF(3, 2, 40, 10), QRectF(3, 2, 40, 10), QRectF(1, 4, 30, 13),
                                         QRectF(2.5, 1, 40, 10), QRectF(3, 2, 40, 10)}) {
                auto drawn = [&](QPainter::CompositionMode mode) {
                    QImage out(int(50 * scale), int(20 * scale), QImage::Format_ARGB32_Premultiplied);
                    out.setDevicePixelRatio(scale);
                    out.fill(Qt::transparent);
                    QPainter p(&out);
                    p.setRenderHint(QPainter::SmoothPixmapTransform);
                    p.setCompositionMode(mode);
                    img.draw(p, target);
                    return out;
                };
                const QImage direct = drawn(QPainter::CompositionMode_Plus);
                EXPECT_NE(direct.pixel(QPoint(10, 5) * scale), 0u);
                EXPECT_EQ(drawn(QPainter::CompositionMode_SourceOver), direct)
                    << img.leftCapWidth() << " " << scale << " " << target.width() << "x" << target.height();
            }
        }
    }
}

// Button skins sit at half points and stretch to widths of half points, smaller or larger than
// the picture: the kept rendering, made at the same fraction of a pixel and shared by every copy
// of the picture, is what a direct draw makes.
TEST_F(KitView, ASkinKeptAtAFractionOfAPixelDrawsWhatADirectDrawWould)
{
    QImage src(40, 64, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixelColor(x, y, QColor(6 * x, 4 * y, 200 - 5 * x, 255 - 3 * y));
    src.setDevicePixelRatio(2);
    for (const QRectF& target : {QRectF(125.5, 13, 117.5, 32), QRectF(8, 13.25, 42, 32), QRectF(245.75, 3.5, 78, 32.5),
                                 QRectF(125.5, 13, 117.5, 32), QRectF(301.5, 20.5, 19.5, 31.5),
                                 QRectF(0.5, 0.5, 360.5, 58.5), QRectF(17.125, 9.875, 66.25, 40.75)}) {
        for (const bool smooth : {false, true}) {
            auto drawn = [&](QPainter::CompositionMode mode) {
                QImage out(380, 60, QImage::Format_ARGB32_Premultiplied);
                out.fill(Qt::transparent);
                QPainter p(&out);
                p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
                p.setCompositionMode(mode);
                Image(src, 9, 15).draw(p, target);
                return out;
            };
            const QImage direct = drawn(QPainter::CompositionMode_Plus);
            EXPECT_NE(direct.pixel(target.center().toPoint()), 0u);
            for (int round = 0; round < 2; ++round)   // made, then taken from the kept ones
                EXPECT_EQ(drawn(QPainter::CompositionMode_SourceOver), direct)
                    << target.x() << "," << target.y() << " " << target.width() << "x" << target.height() << " smooth "
                    << smooth << " round " << round;
        }
    }
}

// Rows taller than one copy band: the kept rendering, copied band by band, is what a direct
// draw makes, at every band's seam.
TEST_F(KitView, ATallStretchedImageDrawsWhatADirectDrawWouldAcrossItsBands)
{
    QImage src(3, 9, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixelColor(x, y, QColor(70 * x, 25 * y, 90 + 10 * y, 255 - 12 * y));
    const Image img(src);
    for (const QRectF& target : {QRectF(0, 0, 60, 64), QRectF(4, 3, 50, 65), QRectF(0, 7, 60, 129), QRectF(2, 1, 57, 230)}) {
        QImage direct(60, 240, QImage::Format_ARGB32_Premultiplied);
        direct.fill(Qt::transparent);
        QImage kept = direct;
        {
            QPainter p(&direct);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.setCompositionMode(QPainter::CompositionMode_Plus);
            img.draw(p, target);
        }
        for (int round = 0; round < 2; ++round) {   // made, then taken from the kept ones
            kept.fill(Qt::transparent);
            QPainter p(&kept);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            img.draw(p, target);
        }
        EXPECT_NE(direct.pixel(10, int(target.bottom()) - 1), 0u);
        EXPECT_EQ(kept, direct) << target.height();
    }
}

// A list's rows differ in height, more of them than a few: each kept rendering, including
// those made again after larger ones pushed them out, is what a direct draw makes.
TEST_F(KitView, StretchedImagesForManyRowHeightsDrawWhatADirectDrawWould)
{
    QImage src(4, 6, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            src.setPixelColor(x, y, QColor(50 * x, 30 * y, 120, 255));
    const Image img(src, 2, 3);
    QList<QRectF> targets;
    for (int round = 0; round < 2; ++round) {
        for (int h = 40; h < 400; h += 23)
            targets << QRectF(0, 0, 120, h);
        targets << QRectF(0, 0, 1400, 1400) << QRectF(0, 0, 1400, 1300);   // past the kept memory together
    }
    for (const QRectF& target : std::as_const(targets)) {
        const QSize size = target.size().toSize();
        QImage direct(size, QImage::Format_ARGB32_Premultiplied), kept(size, QImage::Format_ARGB32_Premultiplied);
        direct.fill(Qt::transparent);
        kept.fill(Qt::transparent);
        {
            QPainter p(&direct);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.setCompositionMode(QPainter::CompositionMode_Plus);
            img.draw(p, target);
        }
        {
            QPainter p(&kept);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            img.draw(p, target);
        }
        ASSERT_EQ(kept, direct) << size.width() << "x" << size.height();
    }
}

TEST_F(KitView, MissingBundleArtIsNull)
{
    EXPECT_TRUE(Image::named(QStringLiteral("Tarnwick23/no_such_image")).isNull());
    EXPECT_TRUE(Image::named(QString()).isNull());
}

TEST_F(KitView, ImageViewAnimatesOnTheClockOnly)
{
    QList<Image> frames;
    for (int i = 0; i < 5; ++i) {
        QImage f(4, 4, QImage::Format_ARGB32_Premultiplied);
        f.fill(QColor(i * 50, 0, 0));
        frames.append(Image(f));
    }
    ImageView v(QRectF(0, 0, 4, 4));
    v.setAnimationImages(frames);
    v.setAnimationDuration(0.5);
    EXPECT_FALSE(v.isAnimating());
    v.startAnimating();
    EXPECT_TRUE(v.isAnimating());
    EXPECT_EQ(v.currentAnimationFrame(), 0);
    AnimationClock::advance(0.25);
    EXPECT_EQ(v.currentAnimationFrame(), 2);
    AnimationClock::advance(0.5);  // repeats for ever
    EXPECT_EQ(v.currentAnimationFrame(), 2);
    v.stopAnimating();
    EXPECT_FALSE(v.isAnimating());
    EXPECT_EQ(v.currentAnimationFrame(), -1);
}

TEST_F(KitView, LabelsMeasureChineseText)
{
    Label l;
    l.setText(QStringLiteral("使用须知"));
    l.setFont(Label::systemFont(17));
    const QSizeF s = l.sizeThatFits({});
    EXPECT_GT(s.width(), 40);
    EXPECT_GT(s.height(), 15);
    l.setNumberOfLines(0);
    l.setText(QStringLiteral("岚帆影院是非官方第三方客户端，仅供个人学习、交流与旧设备兼容研究使用。"));
    EXPECT_GT(l.sizeThatFits(QSizeF(100, 0)).height(), 2 * s.height());
}

TEST_F(KitView, OneLineLabelsShrinkToTheirMinimumBeforeEliding)
{
    Label l(QRectF(0, 0, 60, 18));
    l.setFont(Label::systemFont(10));
    l.setText(QStringLiteral("投稿 45"));
    EXPECT_EQ(l.displayFont().pixelSize(), 10);  // no minimum: the font stays
    l.setText(QStringLiteral("投稿 1.2万  ·  粉丝 12.3万"));
    EXPECT_EQ(l.displayFont().pixelSize(), 10);
    l.setMinimumFontSize(8);
    EXPECT_EQ(l.displayFont().pixelSize(), 8);  // still too wide: the minimum, then elided
    l.setFrame(QRectF(0, 0, 1000, 18));
    EXPECT_EQ(l.displayFont().pixelSize(), 10);
    l.setNumberOfLines(2);
    l.setFrame(QRectF(0, 0, 60, 18));
    EXPECT_EQ(l.displayFont().pixelSize(), 10);
}

// Views over an opaque colour spare Qt painting what they hide on screen; one that stops
// hiding it (translucent, faded or rounded) must let it be painted again.
TEST_F(KitView, WhatIsBelowShowsThroughViewsThatStopCoveringIt)
{
    View root(QRectF(0, 0, 60, 60));
    root.setBackgroundColor(QColor(Qt::white));
    auto* cover = new View(QRectF(10, 10, 40, 40), &root);
    cover->setBackgroundColor(QColor(Qt::red));
    root.show();
    KR_WAIT_UNTIL(root.windowHandle() && root.windowHandle()->isExposed());
    const auto onScreen = [&](int x, int y) {
        root.repaint();
        return QGuiApplication::primaryScreen()->grabWindow(root.winId()).toImage().pixelColor(x, y);
    };
    EXPECT_EQ(onScreen(30, 30), QColor(Qt::red));
    cover->setAlpha(0.5);
    EXPECT_EQ(onScreen(30, 30).red(), 255);
    EXPECT_NEAR(onScreen(30, 30).green(), 128, 2);
    cover->setAlpha(1);
    cover->setBackgroundColor(QColor(255, 0, 0, 128));
    EXPECT_NEAR(onScreen(30, 30).green(), 128, 2);
    cover->setBackgroundColor(QColor(Qt::red));
    cover->setCornerRadius(20);
    EXPECT_EQ(onScreen(11, 11), QColor(Qt::white));
    EXPECT_EQ(onScreen(30, 30), QColor(Qt::red));
}

namespace {
// The first and last pixel rows of a label's drawing that hold any ink.
std::pair<int, int> inkRows(Label& label)
{
    const QImage shot = label.grab().toImage();
    int first = -1, last = -1;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (qAlpha(shot.pixel(x, y)) > 0 && qGray(shot.pixel(x, y)) < 128) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
    return {first, last};
}
} // namespace

TEST_F(KitView, WrappingLabelsShowOnlyTheLinesThatFitWhole)
{
    const QString longText = QStringLiteral("首页会连续加载内容，已有列表在失败时不会被清空，下拉即可重新获取最新的推荐视频");
    // Two lines asked for, room for one: one whole line, not two clipped strips.
    Label strip(QRectF(0, 0, 200, 17));
    strip.setBackgroundColor(QColor(Qt::white));
    strip.setFont(Label::systemFont(11));
    strip.setTextColor(Qt::black);
    strip.setNumberOfLines(2);
    strip.setText(longText);
    const auto [top, bottom] = inkRows(strip);
    ASSERT_GE(top, 0);
    EXPECT_GT(top, 0);
    EXPECT_LT(bottom, 16);

    // Room for many lines, two asked for: the ink stays within two centred lines.
    Label tall(QRectF(0, 0, 120, 120));
    tall.setBackgroundColor(QColor(Qt::white));
    tall.setFont(Label::systemFont(14, true));
    tall.setTextColor(Qt::black);
    tall.setNumberOfLines(2);
    tall.setText(longText);
    const qreal spacing = QFontMetricsF(Label::systemFont(14, true)).lineSpacing();
    const auto [from, to] = inkRows(tall);
    EXPECT_GE(from, int(std::floor((120 - 2 * spacing) / 2)));
    EXPECT_LE(to, int(std::ceil((120 + 2 * spacing) / 2)));
    tall.setNumberOfLines(0);
    const auto [allFrom, allTo] = inkRows(tall);
    EXPECT_LT(allFrom, from);
    EXPECT_GT(allTo, to);
}

TEST_F(KitView, RoundedImageViewsMaskTheirCorners)
{
    QImage red(40, 40, QImage::Format_ARGB32_Premultiplied);
    red.fill(Qt::red);
    ImageView view(QRectF(0, 0, 40, 40));
    view.setImage(Image(red));
    view.setCornerRadius(20);
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(20, 20), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(1, 1), QColor(Qt::red));
}

// A tiled background (a pattern colour) whose pixels are all opaque hides what lies beneath it
// like an opaque colour does, so the view below is not filled again under it; a tile with a
// transparent pixel lets it show through.
TEST_F(KitView, AnOpaqueTileHidesWhatIsBelowAndATranslucentOneDoesNot)
{
    struct Counting : View {
        using View::View;
        int draws = 0;
        void drawRect(QPainter&) override { ++draws; }
    };
    Counting root(QRectF(0, 0, 60, 60));
    root.setBackgroundColor(QColor(Qt::white));
    auto* cover = new View(QRectF(0, 0, 60, 60), &root);
    QImage tile(4, 4, QImage::Format_ARGB32_Premultiplied);
    tile.fill(QColor(Qt::red));
    tile.setPixelColor(1, 1, QColor(Qt::blue));
    cover->setBackgroundColor(QBrush(tile));
    root.show();
    KR_WAIT_UNTIL(root.windowHandle() && root.windowHandle()->isExposed());
    const auto onScreen = [&](int x, int y) {
        root.repaint();
        return QGuiApplication::primaryScreen()->grabWindow(root.winId()).toImage().pixelColor(x, y);
    };
    root.draws = 0;
    EXPECT_EQ(onScreen(1, 1), QColor(Qt::blue));
    EXPECT_EQ(onScreen(2, 2), QColor(Qt::red));
    EXPECT_EQ(root.draws, 0) << "the view below is wholly hidden";

    tile.setPixelColor(2, 2, QColor(0, 0, 0, 0));
    cover->setBackgroundColor(QBrush(tile));
    EXPECT_EQ(onScreen(2, 2), QColor(Qt::white)) << "the transparent pixel shows the view below";
    EXPECT_GT(root.draws, 0);
}

namespace {
// A tile with no two pixels alike in a row or a column, so any misplaced copy shows.
QImage distinctTile(int width, int height)
{
    QImage tile(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            tile.setPixelColor(x, y, QColor(20 + 30 * x, 40 + 25 * y, (x * 7 + y * 13) % 256));
    return tile;
}

// The view alone (no subviews) drawn into an image first filled with a colour no background has.
QImage drawnAlone(View& view, const QRegion& region = QRegion())
{
    QImage shot(view.size(), QImage::Format_ARGB32_Premultiplied);
    shot.fill(QColor(1, 2, 3));
    QPainter painter(&shot);
    view.render(&painter, QPoint(), region, QWidget::DrawWindowBackground);
    return shot;
}
} // namespace

TEST_F(KitView, ABackgroundIsFilledOnlyWhereNoOpaqueSubviewCoversIt)
{
    View root(QRectF(0, 0, 60, 60));
    root.setBackgroundColor(QColor(Qt::white));
    auto* cover = new View(QRectF(10, 10, 20, 20), &root);
    cover->setBackgroundColor(QColor(Qt::red));
    const QColor untouched(1, 2, 3);
    EXPECT_EQ(drawnAlone(root).pixelColor(15, 15), untouched) << "an opaque subview hides that part";
    EXPECT_EQ(drawnAlone(root).pixelColor(5, 5), QColor(Qt::white));
    EXPECT_EQ(drawnAlone(root).pixelColor(35, 15), QColor(Qt::white));

    // Whatever lets the background show under the subview has it filled there.
    cover->setHidden(true);
    EXPECT_EQ(drawnAlone(root).pixelColor(15, 15), QColor(Qt::white)) << "hidden";
    cover->setHidden(false);
    cover->setAlpha(0.5);
    EXPECT_EQ(drawnAlone(root).pixelColor(15, 15), QColor(Qt::white)) << "translucent";
    cover->setAlpha(1);
    cover->setBackgroundColor(QColor(255, 0, 0, 128));
    EXPECT_EQ(drawnAlone(root).pixelColor(15, 15), QColor(Qt::white)) << "translucent colour";
    cover->setBackgroundColor(QColor(Qt::red));
    cover->setCornerRadius(6);
    EXPECT_EQ(drawnAlone(root).pixelColor(11, 11), QColor(Qt::white)) << "rounded";
    cover->setCornerRadius(0);
    EXPECT_EQ(drawnAlone(root).pixelColor(15, 15), untouched);

    // Drawn whole, the result is the same either way.
    QImage whole(root.size(), QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::transparent);
    {
        QPainter painter(&whole);
        root.render(&painter);
    }
    EXPECT_EQ(whole.pixelColor(15, 15), QColor(Qt::red));
    EXPECT_EQ(whole.pixelColor(5, 5), QColor(Qt::white));
}

TEST_F(KitView, APatternColourFillsAsTheTiledBrushWouldAtEveryPlaceAndSize)
{
    const QImage tile = distinctTile(7, 5);
    const auto expected = [&](const QSize& size) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(1, 2, 3));
        QPainter painter(&image);
        painter.fillRect(QRect(QPoint(), size), QBrush(tile));
        return image;
    };
    // A small view, then one larger than a single copy of the laid-out tile serves (its parts
    // are copied one after another), then the small one again from the grown copy.
    for (const QSize size : {QSize(37, 23), QSize(1500, 1130), QSize(41, 29)}) {
        View view{QRectF(QPointF(), QSizeF(size))};
        view.setBackgroundColor(QBrush(tile));
        EXPECT_EQ(drawnAlone(view), expected(size)) << size.width() << "x" << size.height();
    }

    // Parts that start anywhere: around a subview at an odd place, and a region drawn alone.
    View view(QRectF(0, 0, 53, 47));
    view.setBackgroundColor(QBrush(tile));
    auto* cover = new View(QRectF(5, 9, 19, 11), &view);
    cover->setBackgroundColor(QColor(Qt::red));
    const QImage around = drawnAlone(view);
    const QImage reference = expected(QSize(53, 47));
    for (int y = 0; y < 47; ++y)
        for (int x = 0; x < 53; ++x) {
            const bool covered = QRect(5, 9, 19, 11).contains(x, y);
            ASSERT_EQ(around.pixel(x, y), covered ? QColor(1, 2, 3).rgba() : reference.pixel(x, y)) << x << "," << y;
        }
    delete cover;
    const QImage part = drawnAlone(view, QRegion(13, 3, 17, 31));
    for (int y = 0; y < 31; ++y)
        for (int x = 0; x < 17; ++x)
            ASSERT_EQ(part.pixel(x, y), reference.pixel(13 + x, 3 + y)) << x << "," << y;
}
