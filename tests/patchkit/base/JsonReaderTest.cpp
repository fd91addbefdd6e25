#include "base/JsonReader.h"
#include "base/JsonWriter.h"

#include <gtest/gtest.h>

namespace {

// What the writer makes, the reader reads back: strings with every kind of escape included.
TEST(JsonReaderTest, ReadsBackWhatTheWriterWrote) {
    JsonWriter json;
    json.BeginObject();
    json.Key("name");
    json.String("数据/\"quoted\"\\tab\there\x01");
    json.Key("size");
    json.Number(18446744073709551615u);
    json.Key("list");
    json.BeginArray();
    json.Bool(true);
    json.Null();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.EndObject();

    JsonValue document;
    std::string error;
    ASSERT_TRUE(ParseJson(json.Text(), document, error)) << error;
    std::string name;
    std::uint64_t size = 0;
    bool flag = false;
    EXPECT_TRUE(document["name"].GetString(name));
    EXPECT_EQ(name, "数据/\"quoted\"\\tab\there\x01");
    EXPECT_TRUE(document["size"].GetNumber(size));
    EXPECT_EQ(size, 18446744073709551615u);
    ASSERT_EQ(document["list"].Elements().size(), 3u);
    EXPECT_TRUE(document["list"].Elements()[0].GetBool(flag) && flag);
    EXPECT_EQ(document["list"].Elements()[1].kind(), JsonValue::Kind::Null);
    EXPECT_TRUE(document["list"].Elements()[2].IsObject());
    // A member that is not there reads as null, of no kind asked for.
    EXPECT_FALSE(document["absent"]["deeper"].GetString(name));
}

TEST(JsonReaderTest, EscapesOfCharactersBeyondTheBasicPlaneArePairs) {
    JsonValue document;
    std::string error;
    std::string text;
    ASSERT_TRUE(ParseJson("[\"\\u6570\\ud83d\\ude00\\/\"]", document, error)) << error;
    EXPECT_TRUE(document.Elements()[0].GetString(text));
    EXPECT_EQ(text, "数\xf0\x9f\x98\x80/");
    EXPECT_FALSE(ParseJson("[\"\\ud83d\"]", document, error));  // a lone high surrogate
    EXPECT_FALSE(ParseJson("[\"\\ude00x\"]", document, error)); // a lone low one
    EXPECT_FALSE(ParseJson("[\"\\u12\"]", document, error));    // too few digits
}

TEST(JsonReaderTest, RefusesWhatIsNoDocumentOfOurs) {
    JsonValue document;
    std::string error;
    for (const char* text :
         {"", "{", "{\"a\": 1,}", "{\"a\": 1} x", "[1.5]", "[-1]", "[01]", "[18446744073709551616]",
          "{\"a\": 1, \"a\": 2}", "[\"tab\there\"]", "[tru]", "{a: 1}"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ParseJson(text, document, error));
    }
    EXPECT_TRUE(ParseJson(" \r\n{ \"a\" : [ ] }\n", document, error)) << error;
    // Nesting deep enough to exhaust the stack is refused, not followed.
    EXPECT_FALSE(ParseJson(std::string(100000, '[') + std::string(100000, ']'), document, error));
}

} // namespace
