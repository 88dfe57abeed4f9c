// JSON text: escaping, UTF-8 repair, numbers without locale, layout.
#include "report/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orva {
namespace {

TEST(JsonWriter, StringsAreEscapedAndAlwaysValidUtf8) {
    const struct {
        std::string in;
        const char* out;
    } cases[] = {
        {"plain name.png", "\"plain name.png\""},
        {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
        {std::string("tab\tnl\ncr\r\x01\x1f\x7f", 13), "\"tab\\tnl\\ncr\\r\\u0001\\u001f\x7f\""},
        {std::string("nul\0end", 7), "\"nul\\u0000end\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        // Stray, overlong, surrogate and truncated sequences become U+FFFD.
        {"a\xff"
         "b",
         "\"a\xef\xbf\xbd"
         "b\""},
        {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {"end\xe2\x82", "\"end\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& c : cases) EXPECT_EQ(json_quote(c.in), c.out) << c.in;
}

TEST(JsonWriter, NumbersRoundTripAndNonFiniteIsNull) {
    EXPECT_EQ(json_number(344.5877096662956), "344.5877096662956");
    EXPECT_EQ(json_number(0.1f), "0.1");
    EXPECT_EQ(json_number(-90.0), "-90");
    EXPECT_EQ(json_number(1e300), "1e+300");
    EXPECT_EQ(json_number(std::nan("")), "null");
    EXPECT_EQ(json_number(-std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonWriter, NestedAndCompactLayout) {
    JsonWriter w;
    w.begin_object();
    w.field("a", 1);
    w.key("list");
    w.begin_array();
    w.begin_object(true);
    w.field("x", 1.5);
    w.field("ok", true);
    w.key("inner");
    w.begin_array();
    w.null();
    w.end_array();
    w.end_object();
    w.end_array();
    w.key("empty");
    w.begin_array();
    w.end_array();
    w.optional_field("none", "");
    w.end_object();
    EXPECT_EQ(w.text(),
              "{\n  \"a\": 1,\n  \"list\": [\n    {\"x\": 1.5, \"ok\": true, \"inner\": [null]}\n"
              "  ],\n  \"empty\": [],\n  \"none\": null\n}\n");
}

}  // namespace
}  // namespace orva
