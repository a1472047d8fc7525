#include "model/KRJSON.h"
#include "model/KRTolerantValue.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <locale.h>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();

QVariant jsonNull() { return QVariant::fromValue(nullptr); }
QVariant text(const char* s) { return QString::fromUtf8(s); }

QVariantMap parseObject(const char* json)
{
    QString error;
    const QVariant value = KRJSONParse(QByteArray(json), &error);
    EXPECT_TRUE(value.isValid()) << error.toStdString();
    return value.toMap();
}

} // namespace

TEST(TolerantValue, MissingAndNullReadAsNothingEverywhere)
{
    for (const QVariant& v : {QVariant(), jsonNull()}) {
        EXPECT_TRUE(KRIsMissing(v));
        EXPECT_TRUE(KRString(v).isNull());
        EXPECT_EQ(KRLongLong(v), 0);
        EXPECT_EQ(KRDouble(v), 0.0);
        EXPECT_FALSE(KRBoolean(v));
        EXPECT_FALSE(KRIntegerValue(v).has_value());
        EXPECT_FALSE(KRBooleanValue(v).has_value());
    }
    // A null string inside a QVariant is a present (empty) text, not a JSON null.
    EXPECT_FALSE(KRIsMissing(QVariant(QString())));
}

TEST(TolerantValue, FirstValueSkipsOnlyMissingWhileFirstStringSkipsEmptyText)
{
    const QVariantMap d = parseObject(R"({"a": null, "b": "", "c": 0, "d": "x", "e": [1], "f": 42})");
    EXPECT_EQ(KRFirstValue(d, {"zz", "a", "b", "d"}), QVariant(QString()));
    EXPECT_EQ(KRFirstValue(d, {"a", "c", "d"}).toLongLong(), 0);
    EXPECT_FALSE(KRFirstValue(d, {"a", "zz"}).isValid());
    EXPECT_EQ(KRFirstValuePointer(d, {"a", "zz"}), nullptr);
    EXPECT_EQ(KRFirstValuePointer(d, {"a", "d"})->toString(), "x");
    EXPECT_EQ(KRFirstString(d, {"a", "b", "e", "f", "d"}), "42");
    EXPECT_TRUE(KRFirstString(d, {"a", "b", "e"}).isNull());
}

TEST(TolerantValue, StringOfEveryKindOfValue)
{
    const struct { QVariant value; const char* expected; } rows[] = {
        {text("abc"), "abc"}, {text("  "), "  "}, {text(""), nullptr},
        {QVariant(qint64(9007199254740993LL)), "9007199254740993"}, {QVariant(-7), "-7"},
        // Whole floating values have no fraction; others the shortest text that reads back.
        {QVariant(12.0), "12"}, {QVariant(-3.0), "-3"}, {QVariant(1.5), "1.5"}, {QVariant(0.1), "0.1"},
        {QVariant(1e300), "1e+300"}, {QVariant(true), "1"}, {QVariant(false), "0"},
        {QVariant(quint64(18446744073709551615ULL)), "18446744073709551615"},
        {QVariant(QVariantList{1}), nullptr}, {QVariant(QVariantMap{{"a", 1}}), nullptr},
        {QVariant(QByteArray("12")), nullptr},
    };
    for (const auto& row : rows) {
        const QString actual = KRString(row.value);
        if (row.expected)
            EXPECT_EQ(actual, QString::fromUtf8(row.expected)) << row.expected;
        else
            EXPECT_TRUE(actual.isNull()) << actual.toStdString();
    }
}

// The ASCII prefix rules (white space, sign, digits, saturation) are checked against the C
// library on random texts at the end of this file; these rows are what those texts never hold.
TEST(TolerantValue, LongLongOfTextReadsADecimalPrefix)
{
    const struct { const char* text; qint64 expected; } rows[] = {
        {"12.9", 12}, {"1e5", 1}, {"0x1F", 0},
        {"１２", 0},       // full-width digits are no decimal digits
        {"\u00a0" "9", 9}, // a non-breaking space is white space
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRLongLong(text(row.text)), row.expected) << row.text;
}

TEST(TolerantValue, LongLongOfNumbersTruncatesAndSaturates)
{
    const struct { QVariant value; qint64 expected; } rows[] = {
        {QVariant(qint64(9007199254740993LL)), 9007199254740993LL}, {QVariant(2.9), 2}, {QVariant(-2.9), -2},
        {QVariant(1e30), kMax}, {QVariant(-1e30), kMin}, {QVariant(std::nan("")), 0}, {QVariant(kInf), kMax},
        {QVariant(true), 1}, {QVariant(quint64(18446744073709551615ULL)), kMax}, {QVariant(2.5f), 2},
        {QVariant(QVariantList{5}), 0}, {QVariant(QVariantMap{{"a", 5}}), 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRLongLong(row.value), row.expected) << row.value.toString().toStdString();
    // Text offers an integer value (possibly 0); containers offer none.
    EXPECT_EQ(KRIntegerValue(text("abc")), std::optional<qint64>(0));
    EXPECT_FALSE(KRIntegerValue(QVariant(QVariantMap{})).has_value());
    // 32-bit fields keep the low bits, as an assignment on the platform does.
    EXPECT_EQ(KRTruncatedInt32(2147483648LL), std::numeric_limits<qint32>::min());
    EXPECT_EQ(KRInt32(text("4294967297")), 1);
}

TEST(TolerantValue, DoubleReadsAFloatingPrefixWithoutSpecialSpellings)
{
    for (const char* noNumber : {"inf", "nan", "0x10"})
        EXPECT_EQ(KRDouble(text(noNumber)), 0.0) << noNumber;
    EXPECT_EQ(KRDouble(text("1.5kg")), 1.5);
    EXPECT_EQ(KRDouble(QVariant(true)), 1.0);
    EXPECT_EQ(KRDouble(QVariant(QVariantList{1})), 0.0);
}

TEST(TolerantValue, BooleanFollowsThePlatformRules)
{
    // Text: the first character after white space, one sign and any zeros.
    for (const char* yes : {"YES", "true", "T", "y", "1", "9", "0001", "-1", "+2", "  \n t", "00y", "-0y"})
        EXPECT_TRUE(KRBoolean(text(yes))) << yes;
    for (const char* no : {"NO", "false", "0", "+0", "-0", "", "   ", "abc", "n", "--1", "+-1", " x1", ".5"})
        EXPECT_FALSE(KRBoolean(text(no))) << no;
    for (const QVariant& yes : {QVariant(true), QVariant(-1), QVariant(0.5), QVariant(quint64(1ULL << 63))})
        EXPECT_TRUE(KRBoolean(yes));
    for (const QVariant& no : {QVariant(false), QVariant(0), QVariant(0.0), QVariant(QVariantList{true}),
                               QVariant(QVariantMap{{"a", true}})})
        EXPECT_FALSE(KRBoolean(no));
    EXPECT_EQ(KRBooleanValue(text("no")), std::optional<bool>(false));
    EXPECT_FALSE(KRBooleanValue(QVariant(QVariantList{})).has_value());
}

namespace {

// Random short texts over the characters that matter to number reading.
QList<QByteArray> randomNumberTexts(const char* alphabet, int count, unsigned seed)
{
    QList<QByteArray> texts;
    const int alphabetSize = int(std::strlen(alphabet));
    unsigned state = seed;
    auto next = [&state] { state = state * 1103515245u + 12345u; return (state >> 16) & 0x7fff; };
    for (int i = 0; i < count; ++i) {
        QByteArray text;
        const int length = int(next() % 26);
        for (int j = 0; j < length; ++j)
            text.append(alphabet[next() % alphabetSize]);
        texts.append(text);
    }
    // Long digit runs around the 64-bit limits.
    texts << "9223372036854775807" << "9223372036854775808" << "-9223372036854775808" << "-9223372036854775809"
          << "00000000000000000000000009223372036854775807" << " \t\n\v\f\r-000123";
    return texts;
}

} // namespace

TEST(TolerantValue, IntegerTextAgreesWithTheCLibraryReader)
{
    locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    for (const QByteArray& text : randomNumberTexts(" \t+-0123456789a9", 20000, 7)) {
        const long long expected = strtoll_l(text.constData(), nullptr, 10, c);
        EXPECT_EQ(KRLongLong(QVariant(QString::fromLatin1(text))), expected) << text.constData();
    }
    freelocale(c);
}

TEST(TolerantValue, FloatingTextAgreesWithTheCLibraryReader)
{
    locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    for (const QByteArray& text : randomNumberTexts(" +-.eE0123456789a", 20000, 11)) {
        const double expected = strtod_l(text.constData(), nullptr, c);
        const double actual = KRDouble(QVariant(QString::fromLatin1(text)));
        if (std::isinf(expected)) {
            EXPECT_EQ(actual, expected) << text.constData();
        } else if (std::fabs(expected) < 1e-300) {
            EXPECT_LT(std::fabs(actual), 1e-300) << text.constData();
        } else {
            EXPECT_DOUBLE_EQ(actual, expected) << text.constData();
        }
    }
    freelocale(c);
}
