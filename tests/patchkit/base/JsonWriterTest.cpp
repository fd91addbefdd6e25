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

} // namespace
