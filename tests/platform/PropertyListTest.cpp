#include "support/TestSupport.h"

#include "platform/foundation/BinaryPropertyListWriter.h"
#include "platform/foundation/PropertyList.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtEndian>

#include <gtest/gtest.h>

#include <limits>

using namespace platform;

namespace {

const QVariantMap kSample{
    {"string", "a<&>\"' b"},
    {"empty", QString()},
    {"yes", true},
    {"no", false},
    {"small", -42},
    {"big", QVariant::fromValue<qint64>(9007199254740993LL)},  // 2^53 + 1
    {"min", QVariant::fromValue<qint64>(std::numeric_limits<qint64>::min())},
    {"umax", QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max())},
    {"real", 0.1},
    {"data", QByteArray("\x00\x01\xff binary", 10)},
    {"emptyData", QByteArray()},
    {"date", QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
    {"oldDate", QDateTime::fromSecsSinceEpoch(-100000000, Qt::UTC)},  // before both epochs
    {"list", QVariantList{1, "two", QVariantList{}, QVariantMap{}}},
    {"level_info", QVariantMap{{"current_level", 6}, {"name", "名字 ✓"}}},
};

QVariant deepList(int levels)
{
    QVariant value = 1;
    for (int i = 0; i < levels; ++i)
        value = QVariantList{value};
    return value;
}

// A binary list nesting arrays `levels` deep: object i is an array holding object i + 1.
QByteArray nestedBinary(quint32 levels)
{
    auto bigEndian = [](auto v) {
        v = qToBigEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
    };
    QByteArray objects, offsets, trailer(32, '\0');
    for (quint32 i = 0; i < levels; ++i) {
        offsets += bigEndian(quint32(8 + objects.size()));
        objects += i + 1 < levels ? char(0xA1) + bigEndian(i + 1) : QByteArray(1, char(0xA0));
    }
    trailer[6] = trailer[7] = 4;  // offset and reference sizes
    trailer.replace(8, 8, bigEndian(quint64(levels)));
    trailer.replace(24, 8, bigEndian(quint64(8 + objects.size())));
    return "bplist00" + objects + offsets + trailer;
}

// A binary list of `levels` arrays, each holding the next one twice (the last holds two
// integers): a few bytes per level, 2^levels values once every reference is read.
QByteArray doublingBinary(quint32 levels)
{
    auto bigEndian = [](auto v) {
        v = qToBigEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&v), sizeof v);
    };
    QByteArray objects, offsets, trailer(32, '\0');
    for (quint32 i = 0; i <= levels; ++i) {
        offsets += bigEndian(quint32(8 + objects.size()));
        objects += i < levels ? char(0xA2) + bigEndian(i + 1) + bigEndian(i + 1) : QByteArray("\x10\x07", 2);
    }
    trailer[6] = trailer[7] = 4;  // offset and reference sizes
    trailer.replace(8, 8, bigEndian(quint64(levels + 1)));
    trailer.replace(24, 8, bigEndian(quint64(8 + objects.size())));
    return "bplist00" + objects + offsets + trailer;
}

// A binary list whose only object is the date `seconds` after 2001-01-01T00:00:00Z.
QByteArray binaryDate(double seconds)
{
    QByteArray object(9, '\0'), trailer(32, '\0');
    object[0] = char(0x33);
    qToBigEndian(seconds, object.data() + 1);
    trailer[6] = trailer[7] = trailer[15] = 1;  // one-byte offsets and references, one object
    trailer[31] = 17;                            // the offset table follows the object
    return "bplist00" + object + QByteArray(1, 8) + trailer;
}

QString utf16(std::u16string_view text) { return QString::fromUtf16(text.data(), qsizetype(text.size())); }

// Whatever parses is written back by both writers: the binary form gives the same value,
// the XML form the same bytes again (it keeps whole seconds of dates).
void expectWritesBack(const QVariant& value, const std::string& label)
{
    const QByteArray binary = PropertyList::toBinary(value), xml = PropertyList::toXML(value);
    ASSERT_FALSE(binary.isEmpty() || xml.isEmpty()) << label;
    EXPECT_EQ(PropertyList::parse(binary), value) << label;
    EXPECT_EQ(PropertyList::toXML(PropertyList::parse(xml)), xml) << label;
}

} // namespace

TEST(PropertyList, XMLAndBinaryRoundTripEveryType)
{
    const QByteArray xml = PropertyList::toXML(kSample);
    EXPECT_TRUE(xml.contains("<date>2023-11-14T22:13:20Z</date>"));
    EXPECT_TRUE(xml.contains("<integer>18446744073709551615</integer>"));
    const QVariantMap expected = PropertyList::normalized(kSample).toMap();
    for (const QByteArray& encoded : {xml, PropertyList::toBinary(kSample)}) {
        const QVariantMap parsed = PropertyList::parse(encoded).toMap();
        ASSERT_EQ(parsed.keys(), expected.keys()) << encoded.left(8).toStdString();
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            EXPECT_EQ(parsed.value(it.key()), it.value()) << it.key().toStdString();
            EXPECT_EQ(parsed.value(it.key()).typeId(), it.value().typeId()) << it.key().toStdString();
        }
        EXPECT_EQ(parsed.value("date").toDateTime().timeSpec(), Qt::UTC);
    }

    // Binary dates keep milliseconds, also before 1970 and within the second before 2001.
    for (qint64 ms : {1700000000123LL, -1500LL, 978307199250LL, 978307200250LL}) {
        const QDateTime date = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(QVariantList{date})).toList().value(0).toDateTime(), date) << ms;
    }
    EXPECT_EQ(PropertyList::parse(PropertyList::toBinary("solo")), QVariant("solo"));
    const QDateTime local = QDateTime::fromSecsSinceEpoch(1600000000, Qt::LocalTime);
    EXPECT_EQ(PropertyList::parse(PropertyList::toXML(local)).toDateTime().toSecsSinceEpoch(), 1600000000);
}

TEST(PropertyList, RefusesWhatItCannotHold)
{
    const QVariant refused[] = {
        QVariant(), QVariant::fromValue(nullptr), QVariantMap{{"a", QVariantList{QVariant()}}}, QDateTime(),
        QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC),  // no room in the XML form's year
        QDateTime(QDate(-1, 12, 31), QTime(23, 59, 59, 999), Qt::UTC),  // the last moment before year 1
        QString::fromUtf16(u"nul\0inside", 10),              // would be cut short silently
        deepList(600),
    };
    for (const QVariant& value : refused) {
        EXPECT_FALSE(PropertyList::isRepresentable(value)) << value.typeName();
        EXPECT_TRUE(PropertyList::toBinary(value).isEmpty()) << value.typeName();
    }
    EXPECT_EQ(PropertyList::normalized(QVariantHash{{"a", QStringList{"b"}}}),
              QVariant(QVariantMap{{"a", QVariantList{"b"}}}));
}

// Documents past each width the binary form chooses: references and offsets of one, two and
// four bytes, lengths of 15 and more, texts repeated across records (written once), wide
// texts, integers at each size boundary.
TEST(PropertyList, LargeBinaryDocumentsRoundTripAtEveryWidth)
{
    for (int records : {3, 40, 3000}) {
        QVariantMap document;
        for (int i = 0; i < records; ++i) {
            document.insert(QStringLiteral("BV1record%1|cid:%2").arg(i).arg(i * 7),
                            QVariantMap{{"title", QStringLiteral("第 %1 集，一个不短的标题").arg(i)},
                                        {"tname", "动画"},
                                        {"aid", qint64(i) * 65537},
                                        {"edge", QVariantList{255, 256, 65535, 65536, qint64(4294967295LL),
                                                              qint64(4294967296LL), -1}},
                                        {"progress", i + 0.25},
                                        {"pages", QVariantList(16, QVariantMap{{"part", "P1"}, {"page", 1}})},
                                        {"blob", QByteArray(i % 20, 'x')}});
        }
        const QVariant expected = PropertyList::normalized(document);
        const QByteArray binary = PropertyList::toBinary(document);
        ASSERT_FALSE(binary.isEmpty()) << records;
        EXPECT_EQ(PropertyList::parse(binary), expected) << records;
        EXPECT_EQ(PropertyList::toBinaryOfNormalized(expected), binary) << records;
        // The shared texts are written once, not once per record.
        EXPECT_EQ(binary.count("\x53" "aid"), 1) << records;
    }
    // A part normalized() never gives is refused, not written in some other shape.
    EXPECT_TRUE(PropertyList::toBinaryOfNormalized(QVariantMap{{"n", int(1)}}).isEmpty());
    EXPECT_TRUE(PropertyList::toBinaryOfNormalized(QVariantList{QVariant()}).isEmpty());
}

// A writer kept for a store's saves: each write is the file a fresh writer makes of that value,
// whatever the writes before it held, even when a new value's texts sit where the last one's
// did, and after a write it refused.
TEST(PropertyList, AWriterKeptAcrossWritesWritesEachValueAsAFreshOne)
{
    PropertyList::BinaryPropertyListWriter kept;
    const auto records = [](int count, const QString& prefix) {
        QVariantMap document;
        for (int i = 0; i < count; ++i) {
            document.insert(prefix + QString::number(i),
                            QVariantMap{{"title", prefix + QStringLiteral("标题 %1").arg(i)},
                                        {"progress", i * 1.5},
                                        {"completed", i % 2 == 0},
                                        {"aid", qint64(i) << 33},
                                        {"cover", QByteArray(i % 7, 'c')}});
        }
        return PropertyList::normalized(document);
    };
    for (const auto& [count, prefix] : std::initializer_list<std::pair<int, QString>>{
             {300, QStringLiteral("a")}, {5, QStringLiteral("b")}, {1000, QStringLiteral("a")}, {0, QString()}}) {
        // Made afresh each round, so that its texts may take the last round's freed places.
        const QVariant value = records(count, prefix);
        const QByteArray fresh = PropertyList::toBinaryOfNormalized(value);
        ASSERT_FALSE(fresh.isEmpty()) << count;
        EXPECT_EQ(kept.writeKeepingMemory(value), fresh) << count;
        EXPECT_EQ(PropertyList::parse(kept.writeKeepingMemory(value)), value) << count;
    }
    EXPECT_TRUE(kept.writeKeepingMemory(QVariantMap{{"n", int(1)}}).isEmpty());
    const QVariant after = records(20, QStringLiteral("c"));
    EXPECT_EQ(kept.writeKeepingMemory(after), PropertyList::toBinaryOfNormalized(after));
}

TEST(PropertyList, CorruptOrHostileInputIsAnErrorNeverACrash)
{
    const QByteArray binary = PropertyList::toBinary(kSample);
    const QByteArray xml = PropertyList::toXML(kSample);
    // Dictionary keys holding NUL, one byte wide and two: the parsing library would abort on them.
    QByteArray nulKey = PropertyList::toBinary(QVariantMap{{"ab", 1}});
    nulKey[nulKey.indexOf("\x52" "ab") + 2] = '\0';
    QByteArray wideNulKey = PropertyList::toBinary(QVariantMap{{"é", 1}});
    wideNulKey[wideNulKey.indexOf(QByteArray("\x61\x00\xe9", 3)) + 2] = '\0';
    const QByteArray refused[] = {
        QByteArray(), "not a plist", "<plist><dict><key>a</key>",
        "<plist><dict><string>a</string><string>b</string></dict></plist>", "bplist00", QByteArray("bplist00\xff\xff\xff", 11),
        xml.left(xml.size() / 2), nulKey, wideNulKey,
        // Deep enough to overflow the parsing library's recursion if it were let through.
        "<?xml version=\"1.0\"?><plist version=\"1.0\">" + QByteArray("<array>").repeated(300000),
        nestedBinary(200000),
    };
    for (const QByteArray& input : refused) {
        Error error;
        EXPECT_FALSE(PropertyList::parse(input, &error).isValid()) << input.left(60).toStdString();
        EXPECT_EQ(error.domain(), "PropertyList");
    }
    for (qsizetype cut = 0; cut < binary.size(); ++cut)
        EXPECT_FALSE(PropertyList::parse(binary.left(cut)).isValid()) << "cut at " << cut;
    // Harmless depths still parse.
    EXPECT_EQ(PropertyList::parse(nestedBinary(50)).typeId(), QMetaType::QVariantList);
    // A few hundred bytes whose arrays each hold the next one twice stand for 2^41 values:
    // refused at once instead of being expanded. A few shared containers still read, and so
    // do leaves shared however often (a key in every record).
    {
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(PropertyList::parse(doublingBinary(40)).isValid());
        EXPECT_FALSE(PropertyList::parse(doublingBinary(16)).isValid());
        EXPECT_LT(timer.elapsed(), 5000);
        const QVariant shared = PropertyList::parse(doublingBinary(8));
        ASSERT_EQ(shared.typeId(), QMetaType::QVariantList);
        EXPECT_EQ(shared.toList().size(), 2);
        QVariantMap records;
        for (int i = 0; i < 2000; ++i)
            records.insert(QStringLiteral("record %1").arg(i), QVariantMap{{"same", "value"}, {"also", "the same"}});
        EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(records)), records);
    }
    EXPECT_EQ(PropertyList::parse(PropertyList::toXML(deepList(100))), deepList(100));

    // Random damage may parse or not, but must not crash, and what parses can be saved again.
    QRandomGenerator random(20240611);
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = round % 2 ? binary : xml;
        for (int k = 0; k < 1 + round % 4; ++k)
            damaged[random.bounded(damaged.size())] = char(random.bounded(256));
        const QVariant parsed = PropertyList::parse(damaged);
        if (parsed.isValid())
            expectWritesBack(parsed, "round " + std::to_string(round));
    }
}

TEST(PropertyList, ReadsOnlyWhatItCanWriteBackAndKeepsItExactly)
{
    const auto date = [](int year, int month, int day, QTime time = QTime(0, 0)) {
        return QVariant(QDateTime(QDate(year, month, day), time, Qt::UTC));
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // A UTF-16 string "é" + U+0000 in an array: 49 bytes.
    const QByteArray nulString = QByteArray::fromHex("62706c6973743030" "a101" "6200e90000" "080a"  // objects, offsets
                                                     "000000000000" "0101" "0000000000000002"       // sizes, count
                                                     "0000000000000000" "000000000000000f");       // top, table
    const std::pair<QByteArray, QVariant> rows[] = {  // input, value read (invalid: refused)
        {nulString, {}},
        {binaryDate(-3187296000.0), date(1900, 1, 1)},
        {binaryDate(3155760000.0), date(2101, 1, 2)},
        {binaryDate(-0.25), date(2000, 12, 31, QTime(23, 59, 59, 750))},
        {binaryDate(-63113904000.0), date(1, 1, 1)},
        {binaryDate(252423993599.999), date(9999, 12, 31, QTime(23, 59, 59, 999))},
        {binaryDate(252423993600.0), {}},
        {binaryDate(-63113904000.001), {}},
        {binaryDate(1e300), {}},
        {binaryDate(nan), {}},
        {"<plist><date>1900-01-01T00:00:00Z</date></plist>", date(1900, 1, 1)},
        {"<plist><date>2100-06-01T12:30:00Z</date></plist>", date(2100, 6, 1, QTime(12, 30))},
        // A leading U+FEFF is text like any other character, in strings and keys alike.
        {PropertyList::toBinary(QVariantMap{{utf16(u"\uFEFFk"), utf16(u"\uFEFFa")}}),
         QVariantMap{{utf16(u"\uFEFFk"), utf16(u"\uFEFFa")}}},
        {PropertyList::toXML(QVariantList{utf16(u"\uFEFF"), utf16(u"\uFEFF\uFEFFb")}),
         QVariantList{utf16(u"\uFEFF"), utf16(u"\uFEFF\uFEFFb")}},
    };
    for (const auto& [input, expected] : rows) {
        const std::string label = input.toHex().left(120).toStdString();
        Error error;
        const QVariant value = PropertyList::parse(input, &error);
        EXPECT_EQ(value, expected) << label;
        if (!expected.isValid()) {
            EXPECT_EQ(error.domain(), "PropertyList") << label;
            continue;
        }
        EXPECT_EQ(PropertyList::toBinary(value), PropertyList::toBinary(expected)) << label;
        expectWritesBack(value, label);
    }
    // A date before 2001 with a fraction is written to XML at the second it falls in.
    EXPECT_EQ(PropertyList::parse(PropertyList::toXML(date(1999, 6, 1, QTime(12, 0, 0, 500)))),
              date(1999, 6, 1, QTime(12, 0)));
}

TEST(PropertyList, SurrogatesWithoutTheirPartnerBecomeReplacementCharacters)
{
    const QString pair = utf16(u"\U0001F600");
    const std::pair<QString, QString> rows[] = {
        {utf16(u"a\xD800" u"b"), utf16(u"a\uFFFDb")},
        {QString(QChar(0xDC00)), utf16(u"\uFFFD")},
        {QString(QChar(0xDC00)) + QChar(0xD800), utf16(u"\uFFFD\uFFFD")},  // the wrong order is no pair
        {pair + QChar(0xD83D), pair + utf16(u"\uFFFD")},
        {pair, pair},
    };
    for (const auto& [given, kept] : rows) {
        SCOPED_TRACE(given.toUtf8().toHex().toStdString());
        const QVariantMap value{{given, QVariantList{given}}};
        const QVariantMap expected{{kept, QVariantList{kept}}};
        EXPECT_TRUE(PropertyList::isRepresentable(value));
        EXPECT_EQ(PropertyList::normalized(value), expected);
        EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(value)), expected);
        EXPECT_EQ(PropertyList::parse(PropertyList::toXML(value)), expected);
    }
}

// Lists are read and written on worker threads too (the local history's saves), whose stacks
// are smaller than the main thread's can be: the deepest nesting allowed, in both forms.
TEST(PropertyList, TheDeepestAllowedNestingWorksOnAWorkerThread)
{
    QVariant deepMap = "leaf";
    for (int level = 0; level < 512; ++level)
        deepMap = level % 2 ? QVariant(QVariantMap{{"k", deepMap}, {"n", level}}) : QVariant(QVariantList{deepMap, level});
    testsupport::runOnWorkerThread([&] {
        for (const QVariant& deepest : {deepList(512), deepMap}) {
            ASSERT_TRUE(PropertyList::isRepresentable(deepest));
            EXPECT_EQ(PropertyList::normalized(deepest), deepest);
            expectWritesBack(deepest, deepest.typeName());
            EXPECT_EQ(PropertyList::parse(PropertyList::toBinary(deepest)), deepest);
        }
        EXPECT_EQ(PropertyList::parse(nestedBinary(512)).typeId(), QMetaType::QVariantList);
        EXPECT_FALSE(PropertyList::parse(nestedBinary(513)).isValid());
        EXPECT_FALSE(PropertyList::isRepresentable(deepList(513)));
    });
}

// Left out value by value: what the writers could not give back (text holding U+0000, a date
// past the year 9999) goes with its key or its place in a list; a root of that kind, corrupt
// input and nesting too deep are refused as by parse().
TEST(PropertyList, ReadingCanLeaveOutOnlyTheValuesItCannotWriteBack)
{
    // Dates at the reference date, then moved past the year 9999 in the bytes.
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    QByteArray data = PropertyList::toBinary(
        QVariantMap{{"a", 1}, {"late", reference}, {"list", QVariantList{"x", reference}}});
    const QByteArray atReference = QByteArray("\x33") + QByteArray(8, '\0');
    const QByteArray far = binaryDate(1e300);
    ASSERT_TRUE(data.contains(atReference));
    data.replace(atReference, far.mid(8, atReference.size())); // every date object, however many
    ASSERT_FALSE(PropertyList::parse(data).isValid());
    int dropped = -1;
    EXPECT_EQ(PropertyList::parseDroppingUnreadable(data, &dropped), (QVariantMap{{"a", 1}, {"list", QVariantList{"x"}}}));
    EXPECT_EQ(dropped, 2);
    Error error;
    EXPECT_FALSE(PropertyList::parseDroppingUnreadable(far, &dropped, &error).isValid());
    EXPECT_EQ(error.domain(), PropertyList::errorDomain());
    EXPECT_FALSE(PropertyList::parseDroppingUnreadable("<plist><dict><key>a</key>", &dropped).isValid());
    QByteArray deep = "<plist>";
    for (int level = 0; level < 600; ++level)
        deep += "<array>";
    for (int level = 0; level < 600; ++level)
        deep += "</array>";
    EXPECT_FALSE(PropertyList::parseDroppingUnreadable(deep + "</plist>", &dropped).isValid());
    EXPECT_EQ(PropertyList::parseDroppingUnreadable(PropertyList::toBinary(QVariantList{1}), &dropped), QVariantList{1});
    EXPECT_EQ(dropped, 0);
}
