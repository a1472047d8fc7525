#include "platform/foundation/PropertyList.h"
#include "store/KRBinaryPropertyListWriter.h"

#include <QDateTime>
#include <QTimeZone>

#include <limits>

#include <gtest/gtest.h>

namespace {

QVariant roundTrip(const QList<std::pair<QString, QVariant>>& entries)
{
    KRBinaryPropertyListWriter writer;
    std::vector<KRBinaryPropertyListWriter::Fragment> fragments;
    fragments.reserve(size_t(entries.size()));
    QList<std::pair<QString, const KRBinaryPropertyListWriter::Fragment*>> parts;
    for (const auto& entry : entries) {
        fragments.push_back(writer.encode(entry.second));
        EXPECT_TRUE(fragments.back().isValid()) << entry.first.toStdString();
    }
    for (qsizetype i = 0; i < entries.size(); ++i)
        parts.append({entries[i].first, &fragments[size_t(i)]});
    const QByteArray document = writer.dictionaryDocument(parts);
    EXPECT_TRUE(document.startsWith("bplist00"));
    platform::Error error;
    const QVariant parsed = platform::PropertyList::parse(document, &error);
    EXPECT_TRUE(parsed.isValid()) << error.message().toStdString();
    return parsed;
}

} // namespace

TEST(BinaryPropertyListWriter, EveryValueKindReadsBackUnchanged)
{
    QVariantList many;
    for (int i = 0; i < 300; ++i)
        many.append(i * 1000);
    const QVariantMap value{
        {QStringLiteral("ascii"), QStringLiteral("plain text")},
        {QStringLiteral("unicode"), QStringLiteral("第一集 · 😀")},
        {QStringLiteral("long text"), QString(40, u'x')},
        {QStringLiteral("empty"), QString()},
        {QStringLiteral("small"), 7},
        {QStringLiteral("medium"), 40000},
        {QStringLiteral("large"), qint64(5000000000LL)},
        {QStringLiteral("negative"), qint64(-42)},
        {QStringLiteral("minimum"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("huge"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("real"), 3725.9},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff", 3)},
        {QStringLiteral("date"), QDateTime(QDate(2020, 5, 17), QTime(8, 30, 15), QTimeZone::utc())},
        {QStringLiteral("nested"), QVariantMap{{QStringLiteral("list"), QVariantList{1, QStringLiteral("a"), QVariantMap{}}}}},
        {QStringLiteral("emptyList"), QVariantList{}},
        {QStringLiteral("many"), many},
    };
    // Keys shared between records are written once and referred to from both.
    const QVariantMap sharingKeys{{QStringLiteral("small"), 1}, {QStringLiteral("ascii"), QStringLiteral("other")}};
    const QVariant parsed = roundTrip({{QStringLiteral("第一|cid:1"), value},
                                       {QStringLiteral("second"), QVariantList{true}},
                                       {QStringLiteral("third"), sharingKeys}});
    const QVariantMap expected{{QStringLiteral("第一|cid:1"), platform::PropertyList::normalized(value)},
                               {QStringLiteral("second"), QVariantList{true}},
                               {QStringLiteral("third"), platform::PropertyList::normalized(sharingKeys)}};
    EXPECT_EQ(parsed, QVariant(expected));
}

TEST(BinaryPropertyListWriter, WideReferencesWhenObjectsOutgrowTwoBytes)
{
    QList<std::pair<QString, QVariant>> entries;
    for (int r = 0; r < 70; ++r) {
        QVariantList values;
        for (int i = 0; i < 1000; ++i)
            values.append(r * 1000 + i);
        entries.append({QStringLiteral("record-%1").arg(r, 3, 10, QLatin1Char('0')), values});
    }
    const QVariantMap parsed = roundTrip(entries).toMap();
    ASSERT_EQ(parsed.size(), 70);
    EXPECT_EQ(parsed.value(QStringLiteral("record-069")).toList().value(999).toLongLong(), 69999);
    EXPECT_EQ(parsed.value(QStringLiteral("record-000")).toList().value(0).toLongLong(), 0);
}

TEST(BinaryPropertyListWriter, RefusesValuesAPropertyListCannotHold)
{
    KRBinaryPropertyListWriter writer;
    EXPECT_FALSE(writer.encode(QVariant::fromValue(nullptr)).isValid());
    EXPECT_FALSE(writer.encode(QVariant()).isValid());
    EXPECT_FALSE(writer.encode(QVariantMap{{QStringLiteral("pages"), QVariantList{QVariant::fromValue(nullptr)}}}).isValid());
    EXPECT_FALSE(writer.encode(QStringLiteral("a\u0000b")).isValid());
    EXPECT_TRUE(writer.encode(QVariantMap{}).isValid());
}
