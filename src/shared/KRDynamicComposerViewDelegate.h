#pragma once

#include <QString>

class KRDynamicComposerView;

// What the composer bar asks its host to do. Not owned by the bar.
class KRDynamicComposerViewDelegate {
public:
    virtual ~KRDynamicComposerViewDelegate() = default;
    virtual void dynamicComposerViewDidCancel(KRDynamicComposerView*) = 0;
    virtual void dynamicComposerViewDidSubmitText(KRDynamicComposerView*, const QString& trimmed) = 0;
    virtual void dynamicComposerViewDidRequestImage(KRDynamicComposerView*) {}
};
