// Chart paging: page count, clamping, the page window on the x axis, the page buttons and the
// enlarge bounds.
#include <gtest/gtest.h>

#include "chart/chartpaging.h"

namespace {
using namespace chartpaging;

TEST(ChartPaging, PageCount) {
    struct Case {
        const char* name;
        int32_t perPage;
        std::vector<int32_t> counts;
        int32_t pages;
    };
    const Case cases[] = {
        {"no paging", 0, {1000}, 1},
        {"negative page size", -5, {1000}, 1},
        {"no active series", 161, {}, 1},
        {"active series empty", 161, {0, 0}, 1},
        {"reset: one sample point", 161, {1}, 1},
        {"waveform: exactly one page", 161, {161}, 1},
        {"one point more", 161, {162}, 2},
        {"longest series counts", 161, {10, 400}, 3},
        {"exact multiple", 100, {300}, 3},
        {"page of one point", 1, {7}, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PageCount(c.perPage, c.counts), c.pages);
    }
}

TEST(ChartPaging, ClampPage) {
    struct Case {
        int32_t page, count, kept;
    };
    const Case cases[] = {{0, 3, 1}, {-4, 3, 1}, {1, 3, 1}, {3, 3, 3}, {4, 3, 3}, {9, 1, 1}, {2, 0, 1}};
    for (const Case& c : cases) EXPECT_EQ(ClampPage(c.page, c.count), c.kept) << c.page << "/" << c.count;
}

TEST(ChartPaging, PageWindowOnTheXAxis) {
    struct Case {
        const char* name;
        int32_t page, perPage, longest;
        double min, max;
    };
    const Case cases[] = {
        {"first page of 161", 1, 161, 161, 0, 160},
        {"second page of 161", 2, 161, 300, 161, 321},
        {"partly filled last page keeps the spacing", 3, 100, 250, 200, 299},
        {"no paging spans all points", 1, 0, 500, 0, 499},
        {"no paging, one point", 1, 0, 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const XRange r = PageXRange(c.page, c.perPage, c.longest);
        EXPECT_DOUBLE_EQ(r.Min, c.min);
        EXPECT_DOUBLE_EQ(r.Max, c.max);
    }
}

// The enable/disable table of the four page handlers. -1 = unchanged, 0 = off, 1 = on.
TEST(ChartPaging, PageButtons) {
    struct Case {
        const char* name;
        PageHandler handler;
        int32_t current, count;
        int32_t page;
        int first, previous, next, last;
    };
    const Case cases[] = {
        {"First from page 3", PageHandler::First, 3, 5, 1, 0, 0, 1, 1},
        {"First on page 1", PageHandler::First, 1, 1, 1, 0, 0, 1, 1},
        {"last from page 1", PageHandler::Last, 1, 4, 4, 1, 1, 0, 0},
        {"Next on the last page", PageHandler::Next, 4, 4, 4, 1, 1, 0, 0},
        {"Next from the next-to-last page", PageHandler::Next, 3, 4, 4, 1, 1, -1, -1},
        {"Next from page 1", PageHandler::Next, 1, 4, 2, 1, 1, -1, -1},
        {"Next with one page", PageHandler::Next, 1, 1, 1, 1, 1, 0, 0},
        {"Previous on page 1", PageHandler::Previous, 1, 4, 1, 0, 0, 1, 1},
        {"Previous from page 2", PageHandler::Previous, 2, 4, 1, -1, -1, 1, 1},
        {"Previous from the last page", PageHandler::Previous, 4, 4, 3, -1, -1, 1, 1},
    };
    auto state = [](const std::optional<bool>& b) { return b ? int(*b) : -1; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PageStep s = PageClick(c.handler, c.current, c.count);
        EXPECT_EQ(s.Page, c.page);
        EXPECT_EQ(state(s.First), c.first);
        EXPECT_EQ(state(s.Previous), c.previous);
        EXPECT_EQ(state(s.Next), c.next);
        EXPECT_EQ(state(s.Last), c.last);
    }
}

TEST(ChartEnlarge, NormalWhileBelowTop50AndEnlargedBounds) {
    EXPECT_TRUE(ChartIsNormal(175));
    EXPECT_TRUE(ChartIsNormal(51));
    EXPECT_FALSE(ChartIsNormal(50));
    EXPECT_FALSE(ChartIsNormal(28));
    EXPECT_EQ(ChartEnlargedBounds(729, 520), (Bounds{2, 28, 717, 435}));
    EXPECT_EQ(ChartEnlargedBounds(1024, 768), (Bounds{2, 28, 1012, 683}));
    // The enlarged top is not "normal", so the next click restores.
    EXPECT_FALSE(ChartIsNormal(ChartEnlargedBounds(729, 520).Top));
}

}  // namespace
