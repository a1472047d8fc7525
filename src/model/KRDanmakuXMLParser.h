#pragma once

#include "model/KRDanmaku.h"

#include <QString>

class QXmlStreamReader;

// The domain of the errors the XML reader itself reports for a document that does not parse.
inline const QString KRXMLParserErrorDomain = QStringLiteral("KRXMLParserErrorDomain");

// Reads the service's danmaku document, one event at a time, into at most 1000 danmakus:
// the first valid `d` elements in document order. The rest of the document is still read to
// the end so that a document that is not well-formed is refused as a whole.
//
// The document is fed to the reader in slices, so memory stays bounded however long it is.
// External entities are never fetched, and a document that declares entities of its own is
// refused: the service never sends one, and expanding them lets a few kilobytes of input
// grow into gigabytes of text.
class KRDanmakuXMLParser {
public:
    static constexpr int maximumDanmakus = 1000;
    // Largest slice of input one XML token (a text run, a tag with its attributes, a
    // comment) may span before the document is refused.
    static constexpr qsizetype maximumTokenBytes = 1024 * 1024;
    // Text of one `d` kept beyond the 120 units shown, so the cut can widen to a whole
    // character; what goes past it only matters for whether it is white space.
    static constexpr qsizetype keptTextLength = KRDanmaku::maximumTextLength + 4096;

    // The danmakus of `data`, sorted by time, then id. On failure an empty list and the
    // error: KRDanmakuErrorDomain 1 for empty data, KRXMLParserErrorDomain (the reader's
    // error code, line and column in the user info) for a document that does not parse.
    static KRDanmakuList parse(const QByteArray& data, KROptionalError* error);
    // The same with the input handed to the reader at most about `sliceBytes` at a time, so
    // that small documents can reach slice boundaries too.
    static KRDanmakuList parse(const QByteArray& data, KROptionalError* error, qsizetype sliceBytes);

    const KRDanmakuList& danmakus() const { return m_danmakus; }

private:
    KRDanmakuXMLParser() = default;

    void startElement(const QXmlStreamReader& reader);
    void characters(QStringView text);
    void endElement(QStringView qualifiedName);
    bool isCollecting() const { return m_danmakus.size() < maximumDanmakus; }

    KRDanmakuList m_danmakus;
    QString m_currentParameter;
    QString m_currentText;
    // More than white space followed the kept text of the current `d`.
    bool m_currentTextContinues = false;
    bool m_insideDanmaku = false;
};
