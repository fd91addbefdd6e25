#include "signing/SignerDetails.h"

#include <gtest/gtest.h>

namespace {

// The texts both builds derive from what their libraries decode.
TEST(SignerDetailsTest, NamesAndSerialNumbersAreShownAlikeFromDecodedParts) {
    const std::vector<RelativeName> names = {
        {{"2.5.4.6", "CN"}},
        {{"2.5.4.10", "Mist, Ltd"}},
        {{"2.5.4.11", "Tools"}, {"2.5.4.11", "+Release"}},
        {{"1.2.3.4", " #x "}},
        {{"2.5.4.3", "雾岭"}},
    };
    EXPECT_EQ(DistinguishedName(names),
              "CN=雾岭, 1.2.3.4=\\ #x\\ , OU=Tools+OU=\\+Release, O=Mist\\, Ltd, C=CN");
    EXPECT_EQ(SerialNumberText(std::string("\0\x80\x01", 3)), "8001");
    EXPECT_EQ(SerialNumberText(std::string("\0", 1)), "00");
    EXPECT_EQ(TimeText(UtcTime{2027, 1, 5, 8, 0, 9}), "2027-01-05T08:00:09Z");
}

} // namespace
