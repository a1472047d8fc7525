#include "support/TestSupport.h"

#include "platform/foundation/PropertyList.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <limits>

using namespace platform;

namespace {

QVariantMap sample()
{
    QVariantMap inner{{QStringLiteral("current_level"), 6}, {QStringLiteral("name"), QStringLiteral("名字 ✓")}};
    return {
        {QStringLiteral("string"), QStringLiteral("a<&>\"' b")},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("small"), -42},
        {QStringLiteral("big"), QVariant::fromValue<qint64>(9007199254740993LL)},  // 2^53 + 1
        {QStringLiteral("max"), QVariant::fromValue<qint64>(std::numeric_limits<qint64>::max())},
        {QStringLiteral("min"), QVariant::fromValue<qint64>(std::numeric_limits<qint64>::min())},
        {QStringLiteral("umax"), QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max())},
        {QStringLiteral("real"), 0.1},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff binary", 10)},
        {QStringLiteral("emptyData"), QByteArray()},
        {QStringLiteral("date"), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
        {QStringLiteral("oldDate"), QDateTime::fromSecsSinceEpoch(-100000000, Qt::UTC)},  // before both epochs
        {QStringLiteral("list"), QVariantList{1, QStringLiteral("two"), QVariantList{}, QVariantMap{}}},
        {QStringLiteral("level_info"), inner},
    };
}

void expectSampleRoundTrip(const QVariant& parsed)
{
    ASSERT_EQ(parsed.typeId(), QMetaType::QVariantMap);
    const QVariantMap m = parsed.toMap();
    const QVariantMap expected = PropertyList::normalized(sample()).toMap();
    EXPECT_EQ(m.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        EXPECT_EQ(m.value(it.key()), it.value()) << it.key().toStdString();
        EXPECT_EQ(m.value(it.key()).typeId(), it.value().typeId()) << it.key().toStdString();
    }
    EXPECT_EQ(m.value(QStringLiteral("date")).toDateTime().timeSpec(), Qt::UTC);
}

} // namespace

TEST(PropertyList, XMLAndBinaryRoundTripEveryType)
{
    const QByteArray xml = PropertyList::toXML(sample());
    EXPECT_TRUE(xml.contains("<date>2023-11-14T22:13:20Z</date>"));
    EXPECT_TRUE(xml.contains("<integer>18446744073709551615</integer>"));
    expectSampleRoundTrip(PropertyList::parse(xml));
    const QByteArray binary = PropertyList::toBinary(sample());
    ASSERT_TRUE(binary.startsWith("bplist00"));
    expectSampleRoundTrip(PropertyList::parse(binary));

    // Binary dates keep milliseconds, also before 2001 and before 1970.
    for (qint64 ms : {1700000000123LL, -1500LL, 978307199250LL}) {
        const QDateTime date = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(QVariantList{date})).toList().value(0).toDateTime(), date) << ms;
    }

    // A scalar root and a local-time date.
    EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(QStringLiteral("solo"))), QVariant(QStringLiteral("solo")));
    const QDateTime local = QDateTime::fromSecsSinceEpoch(1600000000, Qt::LocalTime);
    EXPECT_EQ(PropertyList::parse(PropertyList::toXML(local)).toDateTime().toSecsSinceEpoch(), 1600000000);
}

TEST(PropertyList, RefusesWhatItCannotHold)
{
    QVariant deep = 1;
    for (int i = 0; i < 600; ++i)
        deep = QVariantList{deep};
    const QVariant refused[] = {
        QVariant(), QVariant::fromValue(nullptr), QVariantMap{{QStringLiteral("a"), QVariantList{QVariant()}}},
        QDateTime(),
        QDateTime::fromSecsSinceEpoch(4102444800LL, Qt::UTC),  // 2100: beyond the format's 32-bit seconds
        QString::fromUtf16(u"nul\0inside", 10),              // would be cut short silently
        deep,
    };
    for (const QVariant& value : refused) {
        EXPECT_FALSE(PropertyList::isRepresentable(value)) << value.typeName();
        EXPECT_TRUE(PropertyList::toBinary(value).isEmpty()) << value.typeName();
    }
    EXPECT_EQ(PropertyList::normalized(QVariantHash{{QStringLiteral("a"), QStringList{QStringLiteral("b")}}}),
              QVariant(QVariantMap{{QStringLiteral("a"), QVariantList{QStringLiteral("b")}}}));
}

TEST(PropertyList, CorruptInputIsAnErrorNeverACrash)
{
    const QByteArray binary = PropertyList::toBinary(sample());
    const QByteArray xml = PropertyList::toXML(sample());
    Error error;
    EXPECT_FALSE(PropertyList::parse(QByteArray(), &error).isValid());
    EXPECT_EQ(error.domain(), QStringLiteral("PropertyList"));
    for (const QByteArray& garbage : {QByteArray("not a plist"), QByteArray("<plist><dict><key>a</key>"),
                                      QByteArray("<plist><dict><string>a</string><string>b</string></dict></plist>"),
                                      QByteArray("bplist00"), QByteArray("bplist00\xff\xff\xff", 11),
                                      xml.left(xml.size() / 2)}) {
        error = Error();
        EXPECT_FALSE(PropertyList::parse(garbage, &error).isValid()) << garbage.toStdString();
        EXPECT_EQ(error.domain(), QStringLiteral("PropertyList"));
    }
    // A dictionary key holding NUL (the parsing library would abort the process on it).
    QByteArray nulKey = PropertyList::toBinary(QVariantMap{{QStringLiteral("ab"), 1}});
    const qsizetype key = nulKey.indexOf("\x52" "ab");
    ASSERT_GE(key, 0);
    nulKey[key + 2] = '\0';
    EXPECT_FALSE(PropertyList::parse(nulKey, &error).isValid());
    QByteArray utf16Key = PropertyList::toBinary(QVariantMap{{QStringLiteral("é"), 1}});
    const qsizetype wide = utf16Key.indexOf(QByteArray("\x61\x00\xe9", 3));
    ASSERT_GE(wide, 0);
    utf16Key[wide + 2] = '\0';
    EXPECT_FALSE(PropertyList::parse(utf16Key).isValid());

    // Every truncation of a binary list.
    for (qsizetype cut = 0; cut < binary.size(); ++cut)
        EXPECT_FALSE(PropertyList::parse(binary.left(cut)).isValid()) << "cut at " << cut;

    // Random damage may parse or not, but must not crash.
    QRandomGenerator random(20240611);
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = round % 2 ? binary : xml;
        for (int k = 0; k < 1 + round % 4; ++k)
            damaged[random.bounded(damaged.size())] = char(random.bounded(256));
        PropertyList::parse(damaged);
    }
}

TEST(PropertyList, HostileNestingIsRefused)
{
    // Deep enough to overflow the parsing library's recursion if it were let through.
    QByteArray openXML = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    openXML += QByteArray("<array>").repeated(300000);
    Error error;
    EXPECT_FALSE(PropertyList::parse(openXML, &error).isValid());
    EXPECT_EQ(error.domain(), QStringLiteral("PropertyList"));

    // Binary lists nesting arrays: object i is an array holding object i + 1.
    auto nestedBinary = [](int levels) {
        auto put32 = [](QByteArray& out, int v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                out += char(v >> shift);
        };
        QByteArray objects, offsets;
        for (int i = 0; i < levels; ++i) {
            put32(offsets, 8 + int(objects.size()));
            if (i + 1 < levels) {
                objects += char(0xA1);
                put32(objects, i + 1);
            } else {
                objects += char(0xA0);
            }
        }
        QByteArray file = "bplist00" + objects;
        const quint64 tableOffset = quint64(file.size());
        file += offsets;
        QByteArray trailer(32, '\0');
        trailer[6] = 4;  // offset size
        trailer[7] = 4;  // reference size
        auto put64 = [&](int at, quint64 v) {
            for (int b = 0; b < 8; ++b)
                trailer[at + b] = char(v >> (56 - 8 * b));
        };
        put64(8, quint64(levels));
        put64(16, 0);
        put64(24, tableOffset);
        return file + trailer;
    };
    EXPECT_FALSE(PropertyList::parse(nestedBinary(200000)).isValid());
    const QVariant fine = PropertyList::parse(nestedBinary(50), &error);
    ASSERT_EQ(fine.typeId(), QMetaType::QVariantList) << error.description().toStdString();

    // The same shape at a harmless depth parses.
    QVariant shallow = 1;
    for (int i = 0; i < 100; ++i)
        shallow = QVariantList{shallow};
    EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(shallow)), shallow);
    EXPECT_EQ(PropertyList::parse(PropertyList::toXML(shallow)), shallow);
}
