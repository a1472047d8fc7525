#include "model/KRDanmakuXMLParser.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace {

// Input handed to the reader per step: small enough that the reader never holds more than a
// slice of a long document, large enough that feeding costs nothing next to reading.
constexpr qsizetype kSliceBytes = 64 * 1024;

// Whether a slice may end after this byte: only after a character the reader has whole
// once it has the byte (ASCII; the tail of a multi-byte sequence may still wait in the
// decoder) and that no complete document can end on: not the '>' of the root's end tag, of
// a comment or of a processing instruction after it, nor white space after those. Nor after
// ']': the reader misses a "]]>" in text, which no document may hold, when it is cut.
bool mayEndSlice(char byte)
{
    const auto unit = static_cast<unsigned char>(byte);
    return unit < 0x80 && byte != '>' && byte != ']' && byte != ' ' && byte != '\t' && byte != '\n'
        && byte != '\r';
}

// Where the slice starting at `from` ends. Running out of input right after a complete
// document is taken by the reader for the end of it, and whatever follows would never be
// read; so a slice other than the last ends only where mayEndSlice allows: after the last
// such byte within `sliceBytes`, or else the first one beyond, as far as one token may
// span; -1 when there is none that near.
qsizetype sliceEnd(const QByteArray& data, qsizetype from, qsizetype sliceBytes)
{
    const qsizetype end = std::min(data.size(), from + sliceBytes);
    if (end == data.size())
        return end;
    for (qsizetype i = end; i > from; --i) {
        if (mayEndSlice(data[i - 1]))
            return i;
    }
    const qsizetype reach = std::min(data.size(), from + KRDanmakuXMLParser::maximumTokenBytes);
    for (qsizetype i = end; i < reach; ++i) {
        if (mayEndSlice(data[i]))
            return i + 1;
    }
    return reach == data.size() ? reach : -1;
}

KRError parserError(const QXmlStreamReader& reader)
{
    KRError error(KRXMLParserErrorDomain, reader.error(),
                  QStringLiteral("弹幕 XML 格式错误（第 %1 行第 %2 列）")
                      .arg(reader.lineNumber())
                      .arg(reader.columnNumber()));
    error.setUserInfoValue(QStringLiteral("line"), reader.lineNumber());
    error.setUserInfoValue(QStringLiteral("column"), reader.columnNumber());
    error.setUserInfoValue(QStringLiteral("reason"), reader.errorString());
    return error;
}

} // namespace

KRDanmakuList KRDanmakuXMLParser::parse(const QByteArray& data, KROptionalError* error)
{
    return parse(data, error, kSliceBytes);
}

KRDanmakuList KRDanmakuXMLParser::parse(const QByteArray& data, KROptionalError* error, qsizetype sliceBytes)
{
    sliceBytes = std::max<qsizetype>(sliceBytes, 1);
    if (error)
        error->reset();
    if (data.isEmpty()) {
        if (error)
            *error = KRError(KRDanmakuErrorDomain, 1, QStringLiteral("弹幕数据为空"));
        return {};
    }

    KRDanmakuXMLParser parser;
    QXmlStreamReader reader;
    reader.setNamespaceProcessing(false);
    qsizetype fed = 0;
    qsizetype fedSinceLastToken = 0;
    bool finished = false;
    while (!finished) {
        switch (reader.readNext()) {
        case QXmlStreamReader::Invalid:
            if (reader.error() != QXmlStreamReader::PrematureEndOfDocumentError || fed == data.size()) {
                finished = true;
            } else if (const qsizetype end = sliceEnd(data, fed, sliceBytes);
                       fedSinceLastToken > maximumTokenBytes || end < 0) {
                reader.raiseError(QStringLiteral("A single node exceeds the size limit."));
                finished = true;
            } else {
                reader.addData(QByteArray(data.constData() + fed, end - fed));
                fedSinceLastToken += end - fed;
                fed = end;
            }
            continue;
        case QXmlStreamReader::EndDocument:
            finished = true;
            break;
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty()) {
                reader.raiseError(QStringLiteral("Entity declarations are not accepted."));
                finished = true;
            }
            break;
        case QXmlStreamReader::StartElement:
            parser.startElement(reader);
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isCDATA())
                parser.characters(reader.text());
            break;
        case QXmlStreamReader::EndElement:
            parser.endElement(reader.qualifiedName());
            break;
        default:
            break;
        }
        fedSinceLastToken = 0;
    }

    if (reader.hasError()) {
        if (error)
            *error = parserError(reader);
        return {};
    }
    KRDanmakuList danmakus = std::move(parser.m_danmakus);
    std::stable_sort(danmakus.begin(), danmakus.end(),
                     [](const std::shared_ptr<KRDanmaku>& a, const std::shared_ptr<KRDanmaku>& b) {
                         if (a->time() != b->time())
                             return a->time() < b->time();
                         return a->danmakuID() < b->danmakuID();
                     });
    return danmakus;
}

void KRDanmakuXMLParser::startElement(const QXmlStreamReader& reader)
{
    // Once the list is full nothing of a later element can reach it.
    if (!isCollecting() || reader.qualifiedName() != u"d")
        return;
    m_insideDanmaku = true;
    const QXmlStreamAttributes attributes = reader.attributes();
    m_currentParameter = attributes.hasAttribute(QLatin1StringView("p"))
                             ? attributes.value(QLatin1StringView("p")).toString()
                             : QString();
    m_currentText.truncate(0);
    m_currentTextContinues = false;
}

void KRDanmakuXMLParser::characters(QStringView text)
{
    if (!m_insideDanmaku || !isCollecting())
        return;
    // Leading white space is trimmed later anyway; dropping it here keeps a long run of it
    // from using up the kept length.
    if (m_currentText.isEmpty()) {
        qsizetype skip = 0;
        while (skip < text.size() && KRDanmaku::isTrimmedCharacter(text[skip].unicode()))
            ++skip;
        text = text.sliced(skip);
    }
    const qsizetype room = keptTextLength - m_currentText.size();
    const qsizetype taken = std::min(room, text.size());
    if (taken > 0) {
        m_currentText.append(text.first(taken));
        text = text.sliced(taken);
    }
    if (!m_currentTextContinues) {
        m_currentTextContinues = std::any_of(text.begin(), text.end(), [](QChar c) {
            return !KRDanmaku::isTrimmedCharacter(c.unicode());
        });
    }
}

void KRDanmakuXMLParser::endElement(QStringView qualifiedName)
{
    if (!m_insideDanmaku || qualifiedName != u"d")
        return;
    if (isCollecting()) {
        if (auto danmaku = KRDanmaku::danmakuWithParameterString(m_currentParameter, m_currentText,
                                                                 m_currentTextContinues))
            m_danmakus.append(std::move(danmaku));
    }
    m_insideDanmaku = false;
    m_currentParameter = QString();
    m_currentText.truncate(0);  // keeps its buffer for the next element
    m_currentTextContinues = false;
}
