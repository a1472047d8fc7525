#pragma once

class KRDynamicCell;

// What a dynamic row reports; the row itself opens nothing. Not owned by the row.
class KRDynamicCellDelegate {
public:
    virtual ~KRDynamicCellDelegate() = default;
    virtual void dynamicCellDidSelectVideo(KRDynamicCell*) = 0;
    virtual void dynamicCellDidSelectAuthor(KRDynamicCell*) = 0;
    virtual void dynamicCellDidSelectBody(KRDynamicCell*) = 0;
    virtual void dynamicCellDidSelectLike(KRDynamicCell*) = 0;
    virtual void dynamicCellDidSelectComment(KRDynamicCell*) = 0;
    virtual void dynamicCellDidSelectRepost(KRDynamicCell*) = 0;
    virtual void dynamicCellDidSelectOriginal(KRDynamicCell*) = 0;
    // false: the row reports a tap on the body instead.
    virtual bool dynamicCellDidSelectPictureAtIndex(KRDynamicCell*, unsigned) { return false; }
};
