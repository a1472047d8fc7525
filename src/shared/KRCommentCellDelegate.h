#pragma once

#include <QStringList>

class KRCommentCell;

// Taps on a comment row's pictures and reply hint. Not owned by the cell.
class KRCommentCellDelegate {
public:
    virtual ~KRCommentCellDelegate() = default;
    virtual void commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls) = 0;
    virtual void commentCellDidTapThread(KRCommentCell*) {}
};
