// Danmaku bodies as the service compresses them: any bytes inflate to a document within the
// limit or to nothing.
#include "FuzzInput.h"

#include "service/KRDanmakuClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the limit, so limits small enough to be reached get their turn.
    const qint64 limit = data[0] < 128 ? qint64(data[0]) * 64 : 16 * 1024 * 1024;
    const std::optional<QByteArray> document = KRInflateDanmakuBody(fuzz::bytes(data + 1, size - 1), limit);
    if (document) {
        fuzz::check(document->size() <= limit, "an inflated body stays within the limit");
        fuzz::check(KRDataLooksLikeXML(*document), "an inflated body looks like XML");
    }
    return 0;
}
