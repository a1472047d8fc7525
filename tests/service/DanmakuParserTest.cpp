#include "service/KRDanmaku.h"
#include "service/KRDanmakuXMLParser.h"

#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace {

// The head of a document as the service sends it: a few bookkeeping elements, then the `d`s.
const QByteArray kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.example.test</chatserver>"
    "<chatid>274662</chatid><mission>0</mission><maxlimit>1000</maxlimit><state>0</state>"
    "<real_name>0</real_name><source>k-v</source>\n";
const QByteArray kTail = "</i>";

QByteArray element(const QByteArray& p, const QByteArray& text)
{
    return "<d p=\"" + p + "\">" + text + "</d>\n";
}

QByteArray document(const QByteArray& body)
{
    return kHead + body + kTail;
}

KRDanmakuList parse(const QByteArray& data, KROptionalError* error = nullptr)
{
    KROptionalError local;
    KRDanmakuList list = KRDanmakuXMLParser::parse(data, error ? error : &local);
    return list;
}

std::shared_ptr<KRDanmaku> one(const QString& p, const QString& text)
{
    return KRDanmaku::danmakuWithParameterString(p, text);
}

QString repeated(QChar c, int n)
{
    return QString(n, c);
}

} // namespace

TEST(DanmakuModelTest, ReadsTheParameterFields)
{
    auto d = one("1,0,0,16777471", "hello");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->time(), 1.0);
    EXPECT_EQ(d->mode(), 1);
    EXPECT_EQ(d->fontSize(), 25.0);
    EXPECT_EQ(d->colorRGB(), 0x0000FFu);
    EXPECT_EQ(d->sentAt(), 0.0);
    EXPECT_EQ(d->pool(), 0);
    EXPECT_TRUE(d->senderHash().isNull());
    EXPECT_EQ(d->danmakuID(), 0);
    EXPECT_EQ(d->text(), "hello");

    auto full = one("12.375,5,18,16711680,1700000123.5,1,9f3c2a1b,1234567890123456789,extra,more", "x");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->time(), 12.375);
    EXPECT_EQ(full->mode(), 5);
    EXPECT_EQ(full->fontSize(), 18.0);
    EXPECT_EQ(full->colorRGB(), 0xFF0000u);
    EXPECT_EQ(full->sentAt(), 1700000123.5);
    EXPECT_EQ(full->pool(), 1);
    EXPECT_EQ(full->senderHash(), "9f3c2a1b");
    EXPECT_EQ(full->danmakuID(), 1234567890123456789LL);

    EXPECT_FALSE(one("1,1,25", "three fields"));
    EXPECT_FALSE(one(QString(), "no attribute"));
    EXPECT_FALSE(one("1,1,25,0", QString()));
}

TEST(DanmakuModelTest, LimitsValuesToTheirRanges)
{
    EXPECT_TRUE(one("86400,1,25,0", "end"));
    EXPECT_TRUE(one("0,1,25,0", "start"));
    EXPECT_FALSE(one("86400.5,1,25,0", "late"));
    EXPECT_FALSE(one("-1,1,25,0", "early"));
    EXPECT_FALSE(one("1e400,1,25,0", "infinite"));

    EXPECT_EQ(one("1,0,25,0", "a")->mode(), 1);
    EXPECT_EQ(one("1,10,25,0", "a")->mode(), 1);
    EXPECT_EQ(one("1,9,25,0", "a")->mode(), 9);
    EXPECT_EQ(one("1,4294967298,25,0", "a")->mode(), 1);  // saturates, never wraps into 1…9
    EXPECT_EQ(one("1, 7x,25,0", "a")->mode(), 7);         // numeric prefix after white space

    EXPECT_EQ(one("1,1,0,0", "a")->fontSize(), 25.0);
    EXPECT_EQ(one("1,1,-3,0", "a")->fontSize(), 25.0);
    EXPECT_EQ(one("1,1,big,0", "a")->fontSize(), 25.0);
    EXPECT_EQ(one("1,1,1e999,0", "a")->fontSize(), 25.0);
    EXPECT_EQ(one("1,1,8,0", "a")->fontSize(), 12.0);
    EXPECT_EQ(one("1,1,80,0", "a")->fontSize(), 64.0);
    EXPECT_EQ(one("1,1,36.5,0", "a")->fontSize(), 36.5);

    EXPECT_EQ(one("1,1,25,16777471", "a")->colorRGB(), 0x0000FFu);  // 16777216 + 255
    EXPECT_EQ(one("1,1,25,-1", "a")->colorRGB(), 0xFFFFFFu);
    EXPECT_EQ(one("1,1,25,4278190335", "a")->colorRGB(), 0x0000FFu);  // beyond 32 bits
}

TEST(DanmakuModelTest, MakesTheTextOneTrimmedLine)
{
    EXPECT_EQ(one("1,1,25,0", "first\nsecond")->text(), "first second");
    EXPECT_EQ(one("1,1,25,0", "a\r\nb")->text(), "a  b");
    EXPECT_EQ(one("1,1,25,0", QString::fromUtf16(u"a\u2028b\u0085c"))->text(), "a b c");
    EXPECT_EQ(one("1,1,25,0", QString::fromUtf16(u"\u3000\u00A0\t hi there \n\u2029"))->text(), "hi there");
    EXPECT_FALSE(one("1,1,25,0", "    "));
    EXPECT_FALSE(one("1,1,25,0", "\n\r\n"));
    EXPECT_FALSE(one("1,1,25,0", ""));
}

TEST(DanmakuModelTest, CutsLongTextsOnlyBetweenCharacters)
{
    EXPECT_EQ(one("1,1,25,0", repeated('a', 120))->text().size(), 120);
    EXPECT_EQ(one("1,1,25,0", repeated('a', 121))->text(), repeated('a', 120));
    EXPECT_EQ(one("1,1,25,0", repeated('a', 500))->text(), repeated('a', 120));

    // A surrogate pair across the cut is kept whole.
    const QString emoji = QString::fromUtf16(u"\U0001F600");
    EXPECT_EQ(one("1,1,25,0", repeated('a', 119) + emoji + "tail")->text(), repeated('a', 119) + emoji);

    // So is a base letter with combining marks...
    const QString accented = QString::fromUtf16(u"e\u0301\u0323");
    EXPECT_EQ(one("1,1,25,0", repeated('a', 119) + accented + "tail")->text(), repeated('a', 119) + accented);

    // ...a flag (two regional indicators, four units) and an emoji sequence joined by ZWJ.
    const QString flag = QString::fromUtf16(u"\U0001F1E8\U0001F1F3");
    EXPECT_EQ(one("1,1,25,0", repeated('a', 118) + flag + "tail")->text(), repeated('a', 118) + flag);
    const QString family = QString::fromUtf16(u"\U0001F468\u200D\U0001F469\u200D\U0001F467");
    EXPECT_EQ(one("1,1,25,0", repeated('a', 117) + family + "tail")->text(), repeated('a', 117) + family);

    // Whatever the text, the cut never lands inside a grapheme cluster.
    const QString mixed = QString::fromUtf16(u"弹幕\U0001F600e\u0301\U0001F1EF\U0001F1F5x\u200D");
    for (int lead = 100; lead < 125; ++lead) {
        const QString text = one("1,1,25,0", repeated('b', lead) + mixed.repeated(4))->text();
        ASSERT_GE(text.size(), 120);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, repeated('b', lead) + mixed.repeated(4));
        finder.setPosition(text.size());
        EXPECT_TRUE(finder.isAtBoundary()) << "lead " << lead;
    }
}

TEST(DanmakuParserTest, ParsesADocumentSortedByTimeThenID)
{
    const QByteArray body = element("30.5,1,25,16777215,1700000003,0,c0ffee01,300", "third") +
                            element("2.25,4,18,16711680,1700000001,0,c0ffee02,200", "second &amp; &lt;b&gt;") +
                            element("30.5,5,25,65280,1700000002,1,c0ffee03,100", "same time, lower id") +
                            element("0.5,1,25,255,1700000000,0,c0ffee04,400", "&#x1F600; first") +
                            element("1,1,25,0", "   ") + element("99999,1,25,0", "too late") +
                            "<d>no attribute</d>\n<x:d p=\"1,1,25,0\">prefixed</x:d>\n";
    KROptionalError error;
    const KRDanmakuList list = KRDanmaku::danmakusFromXMLData(document(body), &error);
    ASSERT_FALSE(error) << error->description().toStdString();
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0]->text(), QString::fromUtf16(u"\U0001F600 first"));
    EXPECT_EQ(list[1]->text(), "second & <b>");
    EXPECT_EQ(list[1]->mode(), 4);
    EXPECT_EQ(list[2]->text(), "same time, lower id");
    EXPECT_EQ(list[2]->danmakuID(), 100);
    EXPECT_EQ(list[3]->danmakuID(), 300);
    EXPECT_EQ(list[3]->senderHash(), "c0ffee01");
}

TEST(DanmakuParserTest, ReadsOnlyOrdinaryCharacterData)
{
    const QByteArray body = element("1,1,25,0", "before<![CDATA[hidden]]>after") +
                            element("2,1,25,0", "<![CDATA[only cdata]]>") +
                            element("3,1,25,0", "outer <b>inner</b> end");
    KROptionalError error;
    const KRDanmakuList list = parse(document(body), &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0]->text(), "beforeafter");
    EXPECT_EQ(list[1]->text(), "outer inner end");
}

TEST(DanmakuParserTest, KeepsTheFirstThousandValidElements)
{
    QByteArray body;
    // Invalid elements early on do not use up places.
    for (int i = 0; i < 50; ++i)
        body += element("1,1,25,0", " ");
    for (int i = 0; i < 1500; ++i) {
        // Times run backwards in blocks so the sort has work; ids break ties.
        const int time = (1499 - i) / 3;
        body += element(QByteArray::number(time) + ",1,25,16777215,0,0,abc," + QByteArray::number(i), "弹幕 " +
                        QByteArray::number(i));
    }
    KROptionalError error;
    const KRDanmakuList list = parse(document(body), &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(list.size(), 1000);
    QSet<qint64> ids;
    for (int i = 0; i < list.size(); ++i) {
        ids.insert(list[i]->danmakuID());
        EXPECT_LT(list[i]->danmakuID(), 1000) << "only the first 1000 in document order";
        if (i > 0) {
            const bool ordered = list[i - 1]->time() < list[i]->time() ||
                                 (list[i - 1]->time() == list[i]->time() &&
                                  list[i - 1]->danmakuID() < list[i]->danmakuID());
            ASSERT_TRUE(ordered) << "at " << i;
        }
    }
    EXPECT_EQ(ids.size(), 1000);
}

TEST(DanmakuParserTest, RefusesEmptyAndMalformedDocuments)
{
    KROptionalError error;
    EXPECT_TRUE(parse(QByteArray(), &error).isEmpty());
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(KRDanmakuErrorDomain, 1));
    EXPECT_EQ(error->message(), "弹幕数据为空");

    const QByteArray good = document(element("1,1,25,0", "one") + element("2,1,25,0", "two"));
    for (const QByteArray& bad : {good.left(good.size() - 5),                    // truncated mid-tag
                                  good.left(good.indexOf("two")),                // truncated mid-element
                                  good + "<i></i>",                              // a second root
                                  kHead + element("1,1,25,0", "open") + "<d p=\"2,1,25,0\">x</e></i>",
                                  QByteArray("this is not xml"),
                                  QByteArray("<?xml version=\"1.0\"?>"),
                                  document(element("1,1,25,0", "undeclared &nbsp; entity"))}) {
        error.reset();
        const KRDanmakuList list = parse(bad, &error);
        EXPECT_TRUE(list.isEmpty()) << bad.right(40).toStdString();
        ASSERT_TRUE(error) << bad.right(40).toStdString();
        EXPECT_EQ(error->domain(), KRXMLParserErrorDomain);
        EXPECT_NE(error->code(), 0);
        EXPECT_FALSE(error->message().isEmpty());
        EXPECT_TRUE(error->userInfo().contains("line"));
    }

    // A document that fails long after its first thousand danmakus still fails.
    QByteArray many = kHead;
    for (int i = 0; i < 1200; ++i)
        many += element(QByteArray::number(i) + ",1,25,0", "x");
    error.reset();
    EXPECT_TRUE(parse(many + "<d p=\"1,1,25,0\">unclosed", &error).isEmpty());
    EXPECT_TRUE(error);
    error.reset();
    EXPECT_EQ(parse(many + kTail, &error).size(), 1000);
    EXPECT_FALSE(error);
}

TEST(DanmakuParserTest, RefusesEntityExpansionAndNeverReadsExternalEntities)
{
    const QByteArray laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE i [<!ENTITY a \"lollollollollollollollollollol\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
        "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
        "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
        "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY k \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>"
        "<i><d p=\"1,1,25,0\">&k;</d></i>";
    // Many references to one moderately long entity: each expansion stays under any
    // per-entity limit, the sum would not.
    QByteArray quadratic = "<?xml version=\"1.0\"?><!DOCTYPE i [<!ENTITY a \"" + QByteArray(4000, 'x') +
                           "\">]><i><d p=\"1,1,25,0\">";
    for (int i = 0; i < 200000; ++i)
        quadratic += "&a;";
    quadratic += "</d></i>";
    QFile secret(QDir::temp().filePath("korvane-danmaku-secret.txt"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("SECRET-CONTENT");
    secret.close();
    const QByteArray external = "<?xml version=\"1.0\"?><!DOCTYPE i [<!ENTITY x SYSTEM \"file://" +
                                QFileInfo(secret).absoluteFilePath().toUtf8() +
                                "\">]><i><d p=\"1,1,25,0\">a&x;b</d></i>";
    const QByteArray parameter = "<?xml version=\"1.0\"?><!DOCTYPE i [<!ENTITY % p \"<!ENTITY y 'z'>\"> %p;]>"
                                 "<i><d p=\"1,1,25,0\">&y;</d></i>";

    for (const QByteArray& hostile : {laughs, quadratic, external, parameter}) {
        QElapsedTimer timer;
        timer.start();
        KROptionalError error;
        const KRDanmakuList list = parse(hostile, &error);
        EXPECT_TRUE(list.isEmpty());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), KRXMLParserErrorDomain);
        EXPECT_LT(timer.elapsed(), 2000) << "refused before expanding";
    }

    // An external subset is named but never fetched; the document itself reads normally.
    const QByteArray externalSubset = "<?xml version=\"1.0\"?><!DOCTYPE i SYSTEM \"file://" +
                                      QFileInfo(secret).absoluteFilePath().toUtf8() +
                                      "\"><i><d p=\"1,1,25,0\">plain</d></i>";
    KROptionalError error;
    const KRDanmakuList list = parse(externalSubset, &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0]->text(), "plain");
    secret.remove();
}

TEST(DanmakuParserTest, ReadsAHugeDocumentAcrossSliceBoundaries)
{
    // About 12 MiB of multi-byte text: elements and UTF-8 sequences straddle every slice edge.
    QByteArray body;
    body.reserve(13 * 1024 * 1024);
    int count = 0;
    while (body.size() < 12 * 1024 * 1024) {
        body += element(QByteArray::number(count % 5000) + ".5,1,25,16777215,1700000000,0,deadbeef," +
                            QByteArray::number(count),
                        "第" + QByteArray::number(count) + "条弹幕，祝大家新年快乐😀");
        ++count;
    }
    KROptionalError error;
    const KRDanmakuList list = parse(document(body), &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(list.size(), 1000);
    for (const auto& d : list) {
        ASSERT_LT(d->danmakuID(), 1000);
        ASSERT_EQ(d->text(), QStringLiteral("第%1条弹幕，祝大家新年快乐😀").arg(d->danmakuID()));
    }
    // Truncating the same document anywhere past the first thousand still fails as a whole.
    error.reset();
    EXPECT_TRUE(parse(kHead + body.left(body.size() / 2), &error).isEmpty());
    EXPECT_TRUE(error);
}

TEST(DanmakuParserTest, KeepsLongTextsBoundedButExact)
{
    // Long texts inside one element: the kept prefix decides, yet the result equals reading
    // the whole text.
    const QByteArray spacesThenWord = "a" + QByteArray(20000, ' ') + "b";
    const QByteArray trailingSpaces = "a" + QByteArray(20000, ' ');
    const QByteArray leadingSpaces = QByteArray(20000, '\n') + "word";
    const QByteArray longWord = QByteArray(100000, 'w');
    KROptionalError error;
    const KRDanmakuList list = parse(document(element("1,1,25,0", spacesThenWord) + element("2,1,25,0", trailingSpaces) +
                                              element("3,1,25,0", leadingSpaces) + element("4,1,25,0", longWord)),
                                     &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0]->text(), "a" + repeated(' ', 119));
    EXPECT_EQ(list[1]->text(), "a");
    EXPECT_EQ(list[2]->text(), "word");
    EXPECT_EQ(list[3]->text(), repeated('w', 120));

    // A character that runs on past what is kept cannot be widened to; it is left out whole
    // rather than split.
    QString marks;
    for (int i = 0; i < 6000; ++i)
        marks += QChar(0x0301);
    error.reset();
    const KRDanmakuList clustered =
        parse(document(element("1,1,25,0", QByteArray(119, 'a') + "e" + marks.toUtf8() + "tail")), &error);
    ASSERT_FALSE(error);
    ASSERT_EQ(clustered.size(), 1);
    EXPECT_EQ(clustered[0]->text(), repeated('a', 119));

    // One token larger than the reader should ever hold is refused rather than buffered.
    error.reset();
    EXPECT_TRUE(parse(document(element("1,1,25,0", QByteArray(3 * 1024 * 1024, 'z'))), &error).isEmpty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), KRXMLParserErrorDomain);
}

namespace {

// Resident-set figures of this process in KiB ("VmRSS", "VmHWM").
qint64 statusKiB(const QByteArray& field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ":"))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Resets the peak resident-set figure; false where the kernel does not allow it.
bool resetPeakMemory()
{
    QFile clear("/proc/self/clear_refs");
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace

TEST(DanmakuParserTest, ParsesInBoundedMemory)
{
    QByteArray body;
    body.reserve(49 * 1024 * 1024);
    for (int i = 0; body.size() < 48 * 1024 * 1024; ++i)
        body += element(QByteArray::number(i % 3000) + ",1,25,16777215,1700000000,0,deadbeef," + QByteArray::number(i),
                        "一条普通的弹幕文本 " + QByteArray::number(i));
    const QByteArray data = document(body);
    body = QByteArray();
    if (!resetPeakMemory())
        GTEST_SKIP() << "peak memory cannot be measured here";
    const qint64 before = statusKiB("VmRSS");
    KROptionalError error;
    const KRDanmakuList list = parse(data, &error);
    const qint64 peak = statusKiB("VmHWM");
    ASSERT_FALSE(error);
    EXPECT_EQ(list.size(), 1000);
    // Holding the document decoded at once would take twice its 48 MiB.
    EXPECT_LT(peak - before, 16 * 1024) << "KiB above the document itself";
}
