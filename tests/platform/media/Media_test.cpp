// Time values and rectangles. (Pixel buffers and their bitmaps are read by the frame
// analysis, whose tests read them.)
#include <gtest/gtest.h>

#include <cmath>

#include "foundation/Format.h"
#include "media/CGGeometry.h"
#include "media/CMTime.h"

TEST(CMTime, ConvertsSecondsAndComparesExactlyAcrossTimescales) {
    EXPECT_EQ(stringWithFormat("%.6f", CMTimeGetSeconds(CMTimeMake(1, 60))), "0.016667");
    EXPECT_EQ(CMTimeMakeWithSeconds(1.0 / 60.0, 1000000).value, 16667); // rounded to the nearest microsecond
    EXPECT_EQ(CMTimeMakeWithSeconds(0.0001, 1000000).value, 100);
    EXPECT_TRUE(std::isnan(CMTimeGetSeconds(kCMTimeInvalid)));
    EXPECT_FALSE(CMTimeMakeWithSeconds(NAN, 1000).isValid());
    EXPECT_FALSE(CMTimeMakeWithSeconds(1e300, 1000000).isValid());
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 5), CMTimeMake(200000, 1000000)), 0);
    EXPECT_LT(CMTimeCompare(CMTimeMake(1, 30), CMTimeMake(1, 5)), 0);
    EXPECT_GT(CMTimeCompare(CMTimeMake(INT64_MAX, 1), CMTimeMake(INT64_MAX - 1, 1)), 0);
}

TEST(ShortestDecimal, ReadsBackAsTheSameDouble) {
    for (double v : {0.3, 1.0 / 3.0, 12345.678901234567, 1e-7})
        EXPECT_EQ(std::stod(shortestDecimal(v)), v) << shortestDecimal(v);
    EXPECT_EQ(shortestDecimal(0.3), "0.3");
    EXPECT_EQ(shortestDecimal(2.0), "2.0");
}

TEST(Rectangles, OverlapIntersectsButSharedEdgesAndCornersDoNot) {
    CGRect a = CGRectMake(0, 0, 20, 20);
    EXPECT_TRUE(CGRectIntersectsRect(a, CGRectMake(19, 19, 5, 5)));
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(20, 0, 20, 20))); // shared edge
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(20, 20, 5, 5)));  // shared corner
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(5, 5, 0, 10)));   // empty
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectMake(20, 0, 5, 5))));
    EXPECT_TRUE(CGRectIntersectsRect(CGRectMake(10, 10, -5, -5), CGRectMake(6, 6, 1, 1))); // standardised
    EXPECT_EQ(CGRectIntersection(CGRectMake(629, 469, 20, 20), CGRectMake(0, 0, 640, 480)),
              CGRectMake(629, 469, 11, 11));
    EXPECT_EQ(CGRectUnion(CGRectMake(0, 0, 10, 10), CGRectMake(20, 5, 5, 10)), CGRectMake(0, 0, 25, 15));
    EXPECT_EQ(CGRectUnion(CGRectNull, CGRectMake(1, 2, 3, 4)), CGRectMake(1, 2, 3, 4));
}
