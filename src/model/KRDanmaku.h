#pragma once

#include "model/KRError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <memory>

class KRDanmaku;

// Errors of reading a danmaku document (code 1: the document is empty).
inline const QString KRDanmakuErrorDomain = QStringLiteral("KRDanmakuErrorDomain");

using KRDanmakuList = QList<std::shared_ptr<KRDanmaku>>;

// One danmaku: a short comment shown over the picture at a playback time.
class KRDanmaku {
public:
    // Longest text kept, in UTF-16 units, before widening to a whole character.
    static constexpr qsizetype maximumTextLength = 120;
    // Latest playback time accepted, in seconds.
    static constexpr double maximumTime = 86400;

    double time() const { return m_time; }
    void setTime(double time) { m_time = time; }
    // The service's display mode, 1 to 9.
    qint32 mode() const { return m_mode; }
    void setMode(qint32 mode) { m_mode = mode; }
    double fontSize() const { return m_fontSize; }
    void setFontSize(double fontSize) { m_fontSize = fontSize; }
    // 0xRRGGBB.
    quint32 colorRGB() const { return m_colorRGB; }
    void setColorRGB(quint32 colorRGB) { m_colorRGB = colorRGB; }
    // Unix seconds; 0 when unknown.
    double sentAt() const { return m_sentAt; }
    void setSentAt(double sentAt) { m_sentAt = sentAt; }
    qint32 pool() const { return m_pool; }
    void setPool(qint32 pool) { m_pool = pool; }
    // Null when the document gives none.
    QString senderHash() const { return m_senderHash; }
    void setSenderHash(const QString& senderHash) { m_senderHash = senderHash; }
    qint64 danmakuID() const { return m_danmakuID; }
    void setDanmakuID(qint64 danmakuID) { m_danmakuID = danmakuID; }
    QString text() const { return m_text; }
    void setText(const QString& text) { m_text = text; }

    // One danmaku from the "p" attribute of a `d` element and its text; null when the
    // attribute has fewer than four fields, the time is outside 0…86400 or there is no text.
    static std::shared_ptr<KRDanmaku> danmakuWithParameterString(QStringView parameterString, QStringView text);
    // The same for a text of which only a prefix was kept: `textContinues` says more than
    // white space followed it, so its end is not trimmed (the cut falls inside anyway).
    static std::shared_ptr<KRDanmaku> danmakuWithParameterString(QStringView parameterString, QStringView text,
                                                                 bool textContinues);

    // Every danmaku of a document, sorted by time, then id. On failure an empty list and
    // the error: KRDanmakuErrorDomain 1 for empty data, else the XML reader's error.
    static KRDanmakuList danmakusFromXMLData(const QByteArray& data, KROptionalError* error);

    // White space and line breaks as the text is trimmed of them at both ends.
    static bool isTrimmedCharacter(char16_t c);

private:
    double m_time = 0;
    qint32 m_mode = 0;
    double m_fontSize = 0;
    quint32 m_colorRGB = 0;
    double m_sentAt = 0;
    qint32 m_pool = 0;
    QString m_senderHash;
    qint64 m_danmakuID = 0;
    QString m_text;
};

