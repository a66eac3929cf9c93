// Integer conversion of frame digits and typed limits: decimal only.
#include <gtest/gtest.h>

#include <string>

#include "meter/convert.h"

namespace {

TEST(StrToInt, AcceptsBlanksSignAndDecimalDigits) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"0", 0},
        {"123", 123},
        {"  123", 123},
        {"-40000", -40000},
        {"+7", 7},
        {" -0012", -12},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
    };
    for (const Case& c : cases) {
        int32_t v = 99;
        EXPECT_TRUE(TryStrToInt(c.text, v)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    }
}

TEST(StrToInt, RejectsHexadecimalAndOtherText) {
    const char* const bad[] = {"$123", "$3E8", "0x12", "0X12", "-$10", "+0x1",       "12a",         "1 2",        "12 ",
                               "",     "   ",  "-",    "+",    "--1",  "2147483648", "-2147483649", "99999999999"};
    for (const char* t : bad) {
        int32_t v = 99;
        EXPECT_FALSE(TryStrToInt(t, v)) << t;
        EXPECT_EQ(v, 99) << t;
        try {
            StrToInt(t);
            ADD_FAILURE() << "no error for " << t;
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(t) + "' is not a valid integer value");
        }
    }
}

}  // namespace
