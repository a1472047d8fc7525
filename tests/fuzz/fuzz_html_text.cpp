// Plain text from an HTML fragment, on any text.
#include "FuzzInput.h"

#include "model/KRVideoNormalizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString fragment = QString::fromUtf8(fuzz::bytes(data, size));
    const QString text = KRPlainTextFromHTMLFragment(fragment);
    fuzz::check(!text.contains(u'<') || fragment.contains(u'<') || fragment.contains(u'&'),
                "markup in the text comes from the fragment");
    return 0;
}
