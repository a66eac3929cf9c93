#include "chart/chartpaging.h"

#include <algorithm>

namespace chartpaging {

int32_t PageCount(int32_t maxPointsPerPage, const std::vector<int32_t>& activeSeriesPointCounts) {
    if (maxPointsPerPage <= 0) return 1;
    int32_t longest = 0;
    for (int32_t n : activeSeriesPointCounts) longest = std::max(longest, n);
    if (longest <= 0) return 1;
    return int32_t((int64_t(longest) + maxPointsPerPage - 1) / maxPointsPerPage);
}

int32_t ClampPage(int32_t page, int32_t pageCount) {
    return std::clamp<int32_t>(page, 1, std::max<int32_t>(1, pageCount));
}

XRange PageXRange(int32_t page, int32_t maxPointsPerPage, int32_t longestPointCount) {
    if (maxPointsPerPage <= 0) return XRange{0.0, double(std::max<int32_t>(1, longestPointCount - 1))};
    const double first = double(int64_t(page - 1) * maxPointsPerPage);
    return XRange{first, first + double(std::max<int32_t>(1, maxPointsPerPage - 1))};
}

PageStep PageClick(PageHandler handler, int32_t currentPage, int32_t pageCount) {
    PageStep s;
    s.Page = currentPage;
    switch (handler) {
        case PageHandler::First:
            s.Page = 1;
            s.First = false;
            s.Previous = false;
            s.Next = true;
            s.Last = true;
            break;
        case PageHandler::Last:
            s.Page = pageCount;
            s.First = true;
            s.Previous = true;
            s.Next = false;
            s.Last = false;
            break;
        case PageHandler::Next:
            if (pageCount == currentPage) {
                s.First = true;
                s.Previous = true;
                s.Next = false;
                s.Last = false;
            } else {
                s.Page = currentPage + 1;
                s.First = true;
                s.Previous = true;
            }
            break;
        case PageHandler::Previous:
            if (currentPage == 1) {
                s.First = false;
                s.Previous = false;
                s.Next = true;
                s.Last = true;
            } else {
                s.Page = currentPage - 1;
                s.Next = true;
                s.Last = true;
            }
            break;
    }
    return s;
}

bool ChartIsNormal(int32_t chartTop) { return chartTop > 50; }

Bounds ChartEnlargedBounds(int32_t outerWidth, int32_t outerHeight) {
    return Bounds{2, 28, outerWidth - 12, outerHeight - 85};
}

}  // namespace chartpaging
