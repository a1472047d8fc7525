// The danmaku XML reader on any bytes, read whole and again fed in small slices: where the
// input is cut must never change what is read.
#include "FuzzInput.h"

#include "model/KRDanmaku.h"
#include "model/KRDanmakuXMLParser.h"

#include <QTextBoundaryFinder>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the slice size; the rest is the document.
    const qsizetype slice = 1 + data[0] % 64;
    const QByteArray document = fuzz::bytes(data + 1, size - 1);

    KROptionalError wholeError;
    const KRDanmakuList whole = KRDanmakuXMLParser::parse(document, &wholeError, document.size() + 1);
    KROptionalError slicedError;
    const KRDanmakuList sliced = KRDanmakuXMLParser::parse(document, &slicedError, slice);
    KROptionalError defaultError;
    const KRDanmakuList read = KRDanmaku::danmakusFromXMLData(document, &defaultError);
    fuzz::check(bool(wholeError) == bool(slicedError) && bool(wholeError) == bool(defaultError),
                "a document is refused however it is cut");
    fuzz::check(read.size() == whole.size(), "a document gives as many danmakus read as it comes");
    fuzz::check(whole.size() == sliced.size(), "a document gives as many danmakus however it is cut");
    fuzz::check(whole.isEmpty() || !wholeError, "a refused document gives no danmakus");
    for (qsizetype i = 0; i < whole.size(); ++i) {
        fuzz::check(whole[i]->text() == sliced[i]->text() && whole[i]->danmakuID() == sliced[i]->danmakuID(),
                    "a document gives the same danmakus however it is cut");
        // Cut at the bound, or at the end of the one character that straddles it.
        const QString& text = whole[i]->text();
        if (text.size() > KRDanmaku::maximumTextLength) {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
            finder.setPosition(KRDanmaku::maximumTextLength);
            fuzz::check(finder.toNextBoundary() == text.size() && text.size() <= KRDanmakuXMLParser::keptTextLength,
                        "a danmaku's text is bounded");
        }
    }
    fuzz::check(whole.size() <= KRDanmakuXMLParser::maximumDanmakus, "the list is bounded");
    return 0;
}
