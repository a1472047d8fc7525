#pragma once

#include <memory>

class KRComment;

// One press on a comment row with replies reaches the list twice: its reply hint's recogniser
// and the row's selection both ask for the thread. The first ask opens it; the other, for the
// same comment while that press is still being handled, finds it opened and does nothing.
class KRCommentThreadTap {
public:
    KRCommentThreadTap();
    ~KRCommentThreadTap();

    // Whether the thread of `comment` may open now (a comment with replies, not already opened
    // by the press being handled); a yes marks it opened until that press has been handled.
    bool claim(const std::shared_ptr<KRComment>& comment);

private:
    struct State;
    std::shared_ptr<State> m_state;
};
