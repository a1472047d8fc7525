// The resume decision without a page: which records are offered, and which answers still count.
#include "playback/KRPlaybackResume.h"

#include <gtest/gtest.h>

TEST(PlaybackResume, OffersRecordsAfterFiveSecondsAndBeforeTheLastFive)
{
    // A 5:12 part: 42 s in is offered, the start and the last 5 s are not.
    EXPECT_TRUE(KRPlaybackResume::offers(42, 312));
    EXPECT_TRUE(KRPlaybackResume::offers(5, 312));
    EXPECT_FALSE(KRPlaybackResume::offers(4.9, 312));
    EXPECT_FALSE(KRPlaybackResume::offers(0, 312));
    EXPECT_TRUE(KRPlaybackResume::offers(306.9, 312));
    EXPECT_FALSE(KRPlaybackResume::offers(307, 312));
    EXPECT_FALSE(KRPlaybackResume::offers(312, 312));
    // An unknown length only asks for the first 5 s.
    EXPECT_TRUE(KRPlaybackResume::offers(3600, 0));
    EXPECT_TRUE(KRPlaybackResume::offers(6, -1));
    EXPECT_FALSE(KRPlaybackResume::offers(4, 0));
    // A part of 10 s or less is never offered.
    EXPECT_FALSE(KRPlaybackResume::offers(5, 10));
}

TEST(PlaybackResume, AnswersOfAnEarlierCheckOrAResetDoNotCount)
{
    KRPlaybackResume resume;
    const quint64 first = resume.beginCheck();
    EXPECT_TRUE(resume.isCurrent(first));
    const quint64 second = resume.beginCheck();
    EXPECT_FALSE(resume.isCurrent(first));
    EXPECT_TRUE(resume.isCurrent(second));
    resume.resetPlaybackResumeState();
    EXPECT_FALSE(resume.isCurrent(second));
}

TEST(PlaybackResume, DecisionAndStartTimeFollowTheirOperations)
{
    KRPlaybackResume resume;
    EXPECT_FALSE(resume.isResolved());
    EXPECT_EQ(resume.startTime(), 0);

    // The offer accepted at 42 s.
    resume.resolveAt(42);
    EXPECT_TRUE(resume.isResolved());
    EXPECT_EQ(resume.startTime(), 42);

    // An interruption moves the start; a failed start asks again but keeps it.
    resume.setStartTime(57.5);
    resume.reopen();
    EXPECT_FALSE(resume.isResolved());
    EXPECT_EQ(resume.startTime(), 57.5);
    resume.resolve();
    EXPECT_TRUE(resume.isResolved());
    EXPECT_EQ(resume.startTime(), 57.5);

    // A new part or a stop forgets both.
    resume.resetPlaybackResumeState();
    EXPECT_FALSE(resume.isResolved());
    EXPECT_EQ(resume.startTime(), 0);
}
