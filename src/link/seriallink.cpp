#include "link/seriallink.h"

#include "meter/meterframe.h"

namespace seriallink {

namespace {
constexpr uint8_t kCarriageReturn = 0x0D;
}  // namespace

ByteResult FeedByte(uint8_t byte, std::string& loText, std::string& line) {
    if (loText.size() < kMaxLineDigits) loText.push_back(kHexDigits[byte & 0x0F]);
    if (byte != kCarriageReturn) return ByteResult::Text;

    // Characters 2 to 10 (nine, fewer when the line is shorter), then "DA".
    line.assign(loText, loText.empty() ? 0 : 1, 9);
    line += "DA";
    const bool frameLine = loText.size() >= 11 && loText[0] == 'A' && loText[10] == 'D';
    loText.clear();
    return frameLine ? ByteResult::FrameLine : ByteResult::Line;
}

}  // namespace seriallink
