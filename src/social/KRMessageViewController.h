#pragma once

#include "look/KRComingLaterViewController.h"

// The reply and @-mention inbox ("消息"), which the home list's message button pushes.
class KRMessageViewController : public KRComingLaterViewController {
    Q_OBJECT
public:
    // `tableStyle` 0 is the plain list the inbox will show.
    explicit KRMessageViewController(int tableStyle = 0, QObject* parent = nullptr);
    int tableStyle() const { return m_tableStyle; }

private:
    int m_tableStyle;
};
