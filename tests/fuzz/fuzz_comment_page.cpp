// Comment pages and reply pages from any JSON reply.
#include "FuzzInput.h"

#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QVariant payload = KRJSONParse(fuzz::bytes(data, size));
    if (!payload.isValid())
        return 0;
    fuzz::check(KRCommentPage::commentPageFromPayload(payload, true) != nullptr, "a comment page is never null");
    fuzz::check(KRCommentPage::commentPageFromPayload(payload, false) != nullptr, "a comment page is never null");
    fuzz::check(KRCommentPage::replyPageFromPayload(payload) != nullptr, "a reply page is never null");
    KRComment::commentFromDictionary(payload);
    return 0;
}
