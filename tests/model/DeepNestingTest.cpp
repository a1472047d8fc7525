// Replies are read on worker threads, whose stacks are smaller than the main thread's can be.
// Everything that walks a reply's tree is run there at the deepest nesting the reader lets
// through, in each shape a reply can nest in.
#include "model/KRDanmaku.h"
#include "model/KRJSON.h"
#include "model/KRVideoNormalizer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

// The reader's deepest nesting, and one level more.
constexpr int kDeepest = 1024;

// `depth` containers around `leaf`: arrays, objects under `name`, or the two alternating.
enum class Shape { Arrays, Objects, Alternating };
QByteArray nested(int depth, Shape shape, const QByteArray& leaf = "1", const QByteArray& name = "a")
{
    QByteArray open, close;
    for (int level = 0; level < depth; ++level) {
        const bool object = shape == Shape::Objects || (shape == Shape::Alternating && level % 2);
        open += object ? "{\"" + name + "\":" : "[";
        close.prepend(object ? '}' : ']');
    }
    return open + leaf + close;
}

} // namespace

TEST(DeepNesting, TheJSONReaderAndWriterHandleTheDeepestNestingOnAWorkerThread)
{
    testsupport::runOnWorkerThread([] {
        for (const Shape shape : {Shape::Arrays, Shape::Objects, Shape::Alternating}) {
            const QByteArray deepest = nested(kDeepest, shape);
            QString error;
            const QVariant tree = KRJSONParse(deepest, &error);
            ASSERT_TRUE(tree.isValid()) << error.toStdString();
            EXPECT_EQ(KRJSONData(tree), deepest);
            // Siblings after a deep branch land in the right container.
            const QByteArray siblings = "[" + nested(kDeepest - 1, shape) + ",{\"b\":[2,{\"c\":3}]},4]";
            EXPECT_EQ(KRJSONData(KRJSONParse(siblings)), siblings);

            EXPECT_FALSE(KRJSONParse(nested(kDeepest + 1, shape), &error).isValid());
            EXPECT_TRUE(error.contains("nested too deep")) << error.toStdString();
            // A fault past the deepest point is still found and placed.
            const QByteArray broken = nested(kDeepest, shape, "tru");
            EXPECT_FALSE(KRJSONParse(broken, &error).isValid());
            EXPECT_FALSE(error.isEmpty());
        }
        QString error;
        EXPECT_FALSE(KRJSONParse(QByteArray(1000000, '['), &error).isValid());
        EXPECT_TRUE(error.contains("nested too deep")) << error.toStdString();
    });
}

TEST(DeepNesting, TheNormaliserWalksTheDeepestRepliesOnAWorkerThread)
{
    testsupport::runOnWorkerThread([] {
        // The payload array is looked for depth-first through nested objects.
        const QVariant payload = KRJSONParse(nested(kDeepest - 2, Shape::Objects, R"([{"aid":7}])", "data"));
        ASSERT_TRUE(payload.isValid());
        const auto found = KRVideoNormalizer::arrayFromPayload(payload);
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->size(), 1);
        EXPECT_EQ(KRVideoNormalizer::videosFromPayload(payload).size(), 1);

        // Play addresses are collected through arrays and objects alike.
        for (const Shape shape : {Shape::Arrays, Shape::Objects, Shape::Alternating}) {
            const QVariant addresses = KRJSONParse(nested(kDeepest - 1, shape, R"(["//a.test/x"])", "durl"));
            ASSERT_TRUE(addresses.isValid());
            QStringList list;
            KRAppendPlayURLs(addresses, list);
            EXPECT_EQ(list, QStringList{"https://a.test/x"});
        }
    });
}

TEST(DeepNesting, TheDanmakuReaderTakesHostileNestingOnAWorkerThread)
{
    testsupport::runOnWorkerThread([] {
        const int depth = 200000;
        const QByteArray document = "<i>" + QByteArray("<x>").repeated(depth) + "<d p=\"1,1,25,0\">deep</d>" +
                                    QByteArray("</x>").repeated(depth) + "</i>";
        KROptionalError error;
        const KRDanmakuList list = KRDanmaku::danmakusFromXMLData(document, &error);
        ASSERT_FALSE(error) << error->description().toStdString();
        ASSERT_EQ(list.size(), 1);
        EXPECT_EQ(list[0]->text(), "deep");
    });
}
