#include "payload/vars.h"
#include "support/report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GetVar, Table)
{
    struct var_case {
        const char* name;
        const char* vars;
        const char* key;
        const char* value;  // null: the default comes back
    };
    const var_case cases[] = {
        {"plain", "a=1\nmx=512\n", "mx", "512"},
        {"match inside a longer key wins when first", "xjvm=a\njvm=b\n", "jvm", "a"},
        {"match inside an earlier value", "jop=-Dmx=9\nmx=512\n", "mx", "9"},
        {"value holding =", "jop=-Dk=v\n", "jop", "-Dk=v"},
        {"last line without line feed", "a=1\nmx=512", "mx", nullptr},
        {"empty value is present", "execwd=\n", "execwd", ""},
        {"carriage return stays in the value", "mx=512\r\n", "mx", "512\r"},
        {"missing key", "a=1\n", "mx", nullptr},
        {"key without =", "mx\nmx=1\n", "mx", "1"},
        {"key ending the text", "a=mx", "mx", nullptr},
        {"case matters", "MX=1\n", "mx", nullptr},
    };
    char fallback[] = "256";
    for (const var_case& c : cases) {
        char* got = get_var(c.vars, c.key, fallback);
        if (c.value)
            EXPECT_EQ(std::string(got), c.value) << c.name;
        else
            EXPECT_EQ(got, fallback) << c.name << ": the default pointer itself";
    }
    EXPECT_EQ(get_var(nullptr, "mx", fallback), fallback);
    EXPECT_EQ(get_var("a=1\n", "mx", nullptr), nullptr);
}

TEST(GetVar, ReturnsAnIndependentCopy)
{
    const char vars[] = "jars=a.jar;b.jar\n";
    char* copy = get_var(vars, "jars", nullptr);
    ASSERT_NE(copy, nullptr);
    copy[0] = 'X';
    EXPECT_STREQ(vars, "jars=a.jar;b.jar\n");
}

TEST(ErrorCodeOf, Table)
{
    EXPECT_EQ(error_code_of("91: EXE section digital signature check failed"), 91);
    EXPECT_EQ(error_code_of("41: Unable to write"), 41);
    EXPECT_EQ(error_code_of(" 41: blank first"), 0);
    EXPECT_EQ(error_code_of("x41"), 0);
    EXPECT_EQ(error_code_of(""), 0);
    EXPECT_EQ(error_code_of(nullptr), 0);
    EXPECT_EQ(error_code_of("4294967297"), 1) << "wraps modulo 2^32";
}

TEST(ParseVersion, Table)
{
    struct version_case {
        const char* text;
        int32_t fill;
        uint64_t version;
    };
    const version_case cases[] = {
        {"1.4", 0, 1000400000000u},
        {"1.4.1", 0, 1000400010000u},
        {"1.4.2_03", 0, 1000400020003u},
        {"1.6.0_22", 0, 1000600000022u},
        {"9999", 9999, 9999999999999999u},
        {"1.5.0", 9999, 1000500009999u},
        {"", 0, 0},
        {nullptr, 0, 0},
        {"1.10000", 0, 2000000000000u},
        {"v1..\xe9" "2", 0, 1000200000000u},
        {"1.2.3.4.5", 0, 1000200030004u},
        {"17.0.9+9", 0, 17000000090009u},
    };
    for (const version_case& c : cases)
        EXPECT_EQ(parse_version(c.text, c.fill), c.version) << (c.text ? c.text : "null");
    EXPECT_LT(parse_version("1.4", 0), parse_version("1.4.1", 0));
}

}  // namespace
