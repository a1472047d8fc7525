#include "KitTestSupport.h"

#include "platform/uikit/Label.h"
#include "platform/uikit/LabelTextLayout.h"
#include "platform/uikit/TextMeasurement.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSet>

#include <cmath>

using namespace platform::uikit;

namespace {

// A label's text as the painter itself draws it in a rectangle: the pixels the kept layout
// must reproduce.
void drawDirectly(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QColor& shadow,
                  int alignment, int lines)
{
    if (text.isEmpty())
        return;
    p.setFont(font);
    int flags = (alignment == TextAlignmentCenter ? Qt::AlignHCenter
                 : alignment == TextAlignmentRight ? Qt::AlignRight
                                                   : Qt::AlignLeft) | Qt::AlignVCenter;
    QString shown = text;
    if (lines == 1)
        shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width());
    else
        shown = wrappedLabelLines(text, font, rect, lines).join(QLatin1Char('\n'));
    if (shadow.isValid()) {
        p.setPen(shadow);
        p.drawText(rect.translated(0, -1), flags, shown);
    }
    p.setPen(Qt::black);
    p.drawText(rect, flags, shown);
}

QImage canvas()
{
    QImage image(160, 90, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(240, 236, 228));
    return image;
}

} // namespace

class KitLabelText : public KitTest {};

// One layout object serves every case in turn, so each change of input must be noticed, and
// each case is drawn twice so the kept lines are drawn as well as the fresh ones.
TEST_F(KitLabelText, KeptLayoutsDrawWhatThePainterDraws)
{
    const QStringList texts = {
        QStringLiteral("第 12 个视频的标题"),
        QStringLiteral("A fairly long title that will not fit in a narrow label at all"),
        QStringLiteral("  spaced  "),
        QStringLiteral("两行\n文字\r和\t制表"),
        QStringLiteral("岚帆影院是非官方第三方客户端，仅供个人学习、交流与旧设备兼容研究使用。"),
        QStringLiteral("&Mixed 中文 and 12.3万 ·"),
        QStringLiteral("x"),
        QStringLiteral("שלום עולם  "),
    };
    const QList<QFont> fonts = {Label::systemFont(17), Label::systemFont(12, true), Label::systemFont(10)};
    const QList<QRectF> rects = {QRectF(0, 0, 150, 22), QRectF(3.5, 10.25, 61, 14), QRectF(5, 2, 120, 80),
                                 QRectF(0, 0, 6, 40), QRectF(2, 30, 100, 8)};
    LabelTextLayout layout;
    int cases = 0;
    int blank = 0;
    for (const QString& text : texts)
        for (const QFont& font : fonts)
            for (const QRectF& rect : rects)
                for (int alignment : {TextAlignmentLeft, TextAlignmentCenter, TextAlignmentRight})
                    for (int lines : {1, 0, 2}) {
                        const QColor shadow = cases % 3 == 0 ? QColor(255, 255, 255, 160) : QColor();
                        QImage expected = canvas();
                        {
                            QPainter p(&expected);
                            drawDirectly(p, rect, text, font, shadow, alignment, lines);
                        }
                        blank += expected == canvas();
                        for (int round = 0; round < 2; ++round) {
                            QImage drawn = canvas();
                            QPainter p(&drawn);
                            layout.draw(p, rect, text, font, Qt::black, shadow, QSizeF(0, -1), alignment, lines);
                            p.end();
                            ASSERT_TRUE(drawn == expected) << text.toStdString() << " px " << font.pixelSize() << " rect "
                                                       << rect.width() << "x" << rect.height() << " align "
                                                       << alignment << " lines " << lines << " round " << round;
                        }
                        ++cases;
                    }
    EXPECT_EQ(cases, 8 * 3 * 5 * 3 * 3);
    EXPECT_LT(blank, cases / 10);  // only the 6-point rect elides every text to nothing
}

// Whether a one-line text is elided is decided at the last fraction of a point, as the painter
// decides it.
TEST_F(KitLabelText, WidthsAroundATextsOwnElideAsThePainterDoes)
{
    LabelTextLayout layout;
    for (const QString& text : {QStringLiteral("第 12 个视频的标题"), QStringLiteral("UP主 42 · 3.4万播放")})
        for (const QFont& font : {Label::systemFont(15), Label::systemFont(11, true)}) {
            const qreal natural = QFontMetricsF(font).horizontalAdvance(text);
            for (qreal width = std::floor(natural) - 2; width <= natural + 2; width += 0.25) {
                const QRectF rect(4, 4, width, 24);
                QImage expected = canvas();
                {
                    QPainter p(&expected);
                    drawDirectly(p, rect, text, font, QColor(), TextAlignmentRight, 1);
                }
                QImage drawn = canvas();
                QPainter p(&drawn);
                layout.draw(p, rect, text, font, Qt::black, QColor(), QSizeF(), TextAlignmentRight, 1);
                p.end();
                ASSERT_TRUE(drawn == expected) << text.toStdString() << " width " << width << " natural " << natural;
            }
        }
}

// A label drawn after its text, font and width change looks like a new label with the final
// settings: nothing of the earlier layout shows through.
TEST_F(KitLabelText, LabelsRedrawAfterEveryChange)
{
    const auto shot = [](Label& label) { return label.grab().toImage(); };
    Label label(QRectF(0, 0, 140, 24));
    label.setText(QStringLiteral("第一个标题"));
    const QImage first = shot(label);
    label.setText(QStringLiteral("换了一个更长的标题，窄处会省略"));
    label.setFont(Label::systemFont(13, true));
    label.setFrame(QRectF(0, 0, 90, 24));
    const QImage changed = shot(label);
    EXPECT_NE(changed, first);

    Label fresh(QRectF(0, 0, 90, 24));
    fresh.setFont(Label::systemFont(13, true));
    fresh.setText(QStringLiteral("换了一个更长的标题，窄处会省略"));
    EXPECT_EQ(changed, shot(fresh));
}

// Layouts are shared between labels drawing the same text: every label, made anew for each
// case and after others drew the same text differently, draws exactly its own settings.
TEST_F(KitLabelText, LabelsSharingATextEachDrawTheirOwnSettings)
{
    const QStringList texts = {QStringLiteral("共用的标题 shared"), QStringLiteral("一段会换行的较长文字，窄处分成几行再省略")};
    const QList<QFont> fonts = {Label::systemFont(15), Label::systemFont(15, true), Label::systemFont(11)};
    const QList<QRectF> rects = {QRectF(0, 0, 150, 22), QRectF(3.5, 10.25, 61, 14), QRectF(5, 2, 120, 80)};
    struct Case {
        QString text;
        QFont font;
        QRectF rect;
        int alignment;
        int lines;
    };
    QList<Case> cases;
    for (const QString& text : texts)
        for (const QFont& font : fonts)
            for (const QRectF& rect : rects)
                for (int alignment : {TextAlignmentLeft, TextAlignmentRight})
                    for (int lines : {1, 0})
                        cases.push_back({text, font, rect, alignment, lines});
    int differing = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < cases.size(); ++i) {
            const Case& c = cases[pass == 0 ? i : cases.size() - 1 - i];
            QImage expected = canvas();
            {
                QPainter p(&expected);
                drawDirectly(p, c.rect, c.text, c.font, QColor(), c.alignment, c.lines);
            }
            QImage drawn = canvas();
            {
                QPainter p(&drawn);
                LabelTextLayout().draw(p, c.rect, c.text, c.font, Qt::black, QColor(), QSizeF(), c.alignment, c.lines);
            }
            ASSERT_TRUE(drawn == expected) << c.text.toStdString() << " px " << c.font.pixelSize() << " bold "
                                           << c.font.bold() << " rect " << c.rect.width() << "x" << c.rect.height()
                                           << " align " << c.alignment << " lines " << c.lines << " pass " << pass;
            differing += i > 0 && expected != canvas();
        }
    }
    EXPECT_GT(differing, cases.size());
}

// Measurements are kept between labels and layouts; one label changed in every way that
// matters, case after case and back again, answers what measuring afresh answers each time.
TEST_F(KitLabelText, AKeptMeasurementAnswersForTheSettingsItWasMadeFor)
{
    const QStringList texts = {QStringLiteral("一段会换行的较长文字，窄处分成几行 wraps here"), QStringLiteral("short")};
    const QList<QFont> fonts = {Label::systemFont(15), Label::systemFont(15, true), Label::systemFont(11)};
    struct Case {
        QString text;
        QFont font;
        qreal width;
        int lines;
        int mode;
    };
    QList<Case> cases;
    for (const QString& text : texts)
        for (const QFont& font : fonts)
            for (qreal width : {60.0, 140.0})
                for (int lines : {1, 0, 2})
                    for (int mode : {LineBreakByWordWrapping, LineBreakByCharWrapping})
                        cases.push_back({text, font, width, lines, mode});
    const auto fresh = [](const Case& c) {
        const QFontMetricsF fm(c.font);
        if (c.lines == 1)
            return QSizeF(std::ceil(fm.horizontalAdvance(c.text)), std::ceil(fm.height()));
        if (c.mode == LineBreakByCharWrapping) {
            const QSizeF size = sizeWithFont(c.text, c.font, QSizeF(c.width, c.lines > 1 ? fm.lineSpacing() * c.lines : 1e6),
                                             LineBreakByCharWrapping);
            return QSizeF(std::ceil(size.width()), std::ceil(size.height()));
        }
        const QRectF bounds = fm.boundingRect(QRectF(0, 0, c.width, 1e6), Qt::TextWordWrap, c.text);
        const qreal height = c.lines > 1 ? std::min(bounds.height(), fm.lineSpacing() * c.lines) : bounds.height();
        return QSizeF(std::ceil(bounds.width()), std::ceil(height));
    };
    Label label;
    QSet<QString> answers;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < cases.size(); ++i) {
            const Case& c = cases[pass == 0 ? i : cases.size() - 1 - i];
            label.setText(c.text);
            label.setFont(c.font);
            label.setNumberOfLines(c.lines);
            label.setLineBreakMode(c.mode);
            const QSizeF answer = label.sizeThatFits(QSizeF(c.width, 1000));
            ASSERT_EQ(answer, fresh(c)) << c.text.toStdString() << " px " << c.font.pixelSize() << " bold " << c.font.bold()
                                        << " width " << c.width << " lines " << c.lines << " mode " << c.mode << " pass " << pass;
            answers.insert(QStringLiteral("%1x%2").arg(answer.width()).arg(answer.height()));
        }
    }
    // The cases differ in what they answer, so a kept answer given for the wrong one shows.
    EXPECT_GT(answers.size(), 10);
}
