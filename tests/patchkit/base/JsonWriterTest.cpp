#include "base/JsonWriter.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonWriterTest, NestsAndEscapes) {
    JsonWriter json;
    json.BeginObject();
    json.Key("name");
    json.String("a \"quoted\" \\ path\n\x01 说明");
    json.Key("list");
    json.BeginArray();
    json.Number(18446744073709551615u);
    json.Bool(false);
    json.Null();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.Key("empty");
    json.BeginArray();
    json.EndArray();
    json.EndObject();
    EXPECT_EQ(json.Text(), "{\n"
                           "  \"name\": \"a \\\"quoted\\\" \\\\ path\\n\\u0001 说明\",\n"
                           "  \"list\": [\n"
                           "    18446744073709551615,\n"
                           "    false,\n"
                           "    null,\n"
                           "    {}\n"
                           "  ],\n"
                           "  \"empty\": []\n"
                           "}\n");
}

TEST(JsonWriterTest, BytesThatAreNoWellFormedUtf8BecomeReplacementCharacters) {
    const struct {
        const char* given;
        const char* written;
    } cases[] = {
        {"a\xFF"
         "b",
         "\"a\\ufffdb\""},                                          // no lead byte
        {"\xE8\xAF", "\"\\ufffd\\ufffd\""},                         // cut short at the end
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                         // overlong "/"
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},              // a surrogate
        {"\xF4\x90\x80\x80x", "\"\\ufffd\\ufffd\\ufffd\\ufffdx\""}, // beyond U+10FFFF
        {"\xF0\x9F\x98\x80 \xE8\xAF\xB4", "\"\xF0\x9F\x98\x80 \xE8\xAF\xB4\""}, // kept
    };
    for (const auto& example : cases) {
        JsonWriter json;
        json.String(example.given);
        EXPECT_EQ(json.Text(), example.written) << example.given;
    }
}

} // namespace
