#pragma once
// Paging and enlarging of the waveform chart, as plain arithmetic.
//
// The chart shows one page of MaxPointsPerPage consecutive points of each series; the current
// page is a whole number from 1 that the chart clamps into 1 .. page count whenever it is set.
#include <cstdint>
#include <optional>
#include <vector>

namespace chartpaging {

// 1 when maxPointsPerPage is 0 (or less) or no active series has points; otherwise the point
// count of the longest active series divided by maxPointsPerPage, rounded up.
int32_t PageCount(int32_t maxPointsPerPage, const std::vector<int32_t>& activeSeriesPointCounts);

// The page the chart keeps when asked for `page`: clamped into 1 .. pageCount.
int32_t ClampPage(int32_t page, int32_t pageCount);

// The x range (point indexes) that a page shows. A partly filled last page keeps the spacing of
// a full page. Without paging (maxPointsPerPage <= 0) the range spans all points.
struct XRange {
    double Min = 0;
    double Max = 0;
};
XRange PageXRange(int32_t page, int32_t maxPointsPerPage, int32_t longestPointCount);

enum class PageHandler { First, Previous, Next, Last };

// What one click of a page button does: the page asked for (the chart clamps it), and the
// enabled state of the four buttons (nullopt: unchanged). The caption of the page number is
// the current page after the change.
struct PageStep {
    int32_t Page = 1;
    std::optional<bool> First, Previous, Next, Last;
};
PageStep PageClick(PageHandler handler, int32_t currentPage, int32_t pageCount);

// ---- enlarge / restore ----

struct Bounds {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const Bounds&) const = default;
};

// The chart is in its normal layout while its top edge is below 50.
bool ChartIsNormal(int32_t chartTop);
// The enlarged chart inside a window of the given outer size.
Bounds ChartEnlargedBounds(int32_t outerWidth, int32_t outerHeight);

}  // namespace chartpaging
