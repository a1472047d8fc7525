#include "platform/foundation/PropertyList.h"
#include "store/KRBinaryPropertyListWriter.h"

#include <QDateTime>
#include <QTimeZone>

#include <limits>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Encodes each record on its own, stitches them into one document and reads it back.
QVariantMap roundTrip(const QVariantMap& records)
{
    KRBinaryPropertyListWriter writer;
    std::vector<KRBinaryPropertyListWriter::Fragment> fragments;
    for (const QVariant& record : records)
        fragments.push_back(writer.encode(record));
    QList<std::pair<QString, const KRBinaryPropertyListWriter::Fragment*>> parts;
    for (const QString& key : records.keys()) {
        EXPECT_TRUE(fragments[size_t(parts.size())].isValid()) << key.toStdString();
        parts.append({key, &fragments[size_t(parts.size())]});
    }
    platform::Error error;
    const QVariant parsed = platform::PropertyList::parse(writer.dictionaryDocument(parts), &error);
    EXPECT_TRUE(parsed.isValid()) << error.message().toStdString();
    return parsed.toMap();
}

} // namespace

TEST(BinaryPropertyListWriter, EveryValueKindReadsBackUnchanged)
{
    const QVariantMap value{
        {u"ascii"_s, u"plain text"_s}, {u"unicode"_s, u"第一集 · 😀"_s}, {u"long text"_s, QString(40, u'x')},
        {u"empty"_s, QString()}, {u"small"_s, 7}, {u"medium"_s, 40000}, {u"large"_s, qint64(5000000000LL)},
        {u"negative"_s, qint64(-42)}, {u"minimum"_s, std::numeric_limits<qint64>::min()},
        {u"huge"_s, std::numeric_limits<quint64>::max()}, {u"real"_s, 3725.9}, {u"yes"_s, true}, {u"no"_s, false},
        {u"data"_s, QByteArray("\x00\x01\xff", 3)}, {u"date"_s, QDateTime(QDate(2020, 5, 17), QTime(8, 30, 15), QTimeZone::utc())},
        {u"nested"_s, QVariantMap{{u"list"_s, QVariantList{1, u"a"_s, QVariantMap{}}}}}, {u"emptyList"_s, QVariantList{}}};
    // Keys shared between records are written once and referred to from both.
    const QVariantMap records{{u"第一|cid:1"_s, value}, {u"second"_s, QVariantList{true}},
                              {u"third"_s, QVariantMap{{u"small"_s, 1}, {u"ascii"_s, u"other"_s}}}};
    EXPECT_EQ(roundTrip(records), platform::PropertyList::normalized(records).toMap());

    // More than 65535 objects: references widen past two bytes.
    QVariantMap wide;
    for (int r = 0; r < 70; ++r)
        wide.insert(u"record-%1"_s.arg(r), QVariantList(1000, r));
    EXPECT_EQ(roundTrip(wide), platform::PropertyList::normalized(wide).toMap());
}

TEST(BinaryPropertyListWriter, RefusesValuesAPropertyListCannotHold)
{
    KRBinaryPropertyListWriter writer;
    EXPECT_FALSE(writer.encode(QVariant::fromValue(nullptr)).isValid());
    EXPECT_FALSE(writer.encode(QVariantMap{{u"pages"_s, QVariantList{QVariant::fromValue(nullptr)}}}).isValid());
    EXPECT_FALSE(writer.encode(u"a\u0000b"_s).isValid());
    EXPECT_TRUE(writer.encode(QVariantMap{}).isValid());
}
