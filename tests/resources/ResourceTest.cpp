// The resources of both builds of the updater, read from the programs themselves: the dialog
// template, the icon, the manifest and the version block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/PackageBuilder.h"

namespace {

constexpr std::uint16_t kDialog = 5;
constexpr std::uint16_t kIcon = 3;
constexpr std::uint16_t kGroupIcon = 14;
constexpr std::uint16_t kVersion = 16;
constexpr std::uint16_t kManifest = 24;
constexpr std::uint16_t kChinesePrc = 0x0804;

// Reads little-endian values and UTF-16 strings from a byte buffer, stopping at its end.
class Reader {
public:
    Reader(const std::string& bytes, std::size_t offset) : m_bytes(bytes), m_offset(offset) {}

    // The low part is read first: the operands of | are evaluated in no fixed order.
    std::uint16_t Word() {
        const std::uint8_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    std::uint32_t Dword() {
        const std::uint32_t low = Word();
        return low | static_cast<std::uint32_t>(Word()) << 16;
    }
    std::uint8_t Byte() {
        return m_offset < m_bytes.size() ? static_cast<std::uint8_t>(m_bytes[m_offset++]) : 0;
    }
    std::u16string String() {
        std::u16string text;
        for (std::uint16_t c = Word(); c != 0 && m_offset < m_bytes.size(); c = Word())
            text += static_cast<char16_t>(c);
        return text;
    }
    // A name or an ordinal (0xFFFF followed by the number); ordinals come back as "#N".
    std::u16string NameOrOrdinal() {
        const std::size_t start = m_offset;
        if (Word() == 0xFFFF) {
            const std::string number = "#" + std::to_string(Word());
            return std::u16string(number.begin(), number.end());
        }
        m_offset = start;
        return String();
    }
    void AlignToDword() { m_offset = (m_offset + 3) & ~std::size_t{3}; }
    void Skip(std::size_t count) { m_offset += count; }
    std::size_t Offset() const { return m_offset; }

private:
    const std::string& m_bytes;
    std::size_t m_offset;
};

struct Resource {
    std::u16string type;
    std::u16string name;
    std::uint16_t language = 0;
    std::string data;
};

std::u16string Ordinal(std::uint16_t number) {
    const std::string text = "#" + std::to_string(number);
    return std::u16string(text.begin(), text.end());
}

constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kHighBit = 0x80000000u;

// A directory of the resource tree: calls visit(name, offset) for each entry, the offset being
// that of a subdirectory or of a data entry, from the start of the tree.
void ForEachEntry(const std::string& bytes, std::size_t tree, std::uint32_t directory,
                  const std::function<void(const std::u16string&, std::uint32_t)>& visit) {
    Reader header(bytes, tree + directory);
    header.Skip(12);
    const unsigned count = header.Word() + header.Word(); // named, then numbered entries
    for (unsigned i = 0; i < count; ++i) {
        const std::uint32_t name = header.Dword();
        const std::uint32_t target = header.Dword() & ~kHighBit;
        if ((name & kHighBit) == 0) {
            visit(Ordinal(static_cast<std::uint16_t>(name)), target);
            continue;
        }
        Reader text(bytes, tree + (name & ~kHighBit));
        std::u16string named(text.Word(), u'\0');
        for (char16_t& c : named)
            c = static_cast<char16_t>(text.Word());
        visit(named, target);
    }
}

struct Program {
    std::uint16_t machine = 0;
    std::vector<Resource> resources;
};

// The machine and the resources of a Windows program; nothing when it is not one.
Program ReadProgram(const std::string& path) {
    const std::string bytes = testsupport::ReadBinaryFile(path);
    Program program;
    const std::size_t peHeader = Reader(bytes, 0x3C).Dword();
    Reader header(bytes, peHeader);
    if (header.Dword() != kPeSignature)
        return program;
    program.machine = header.Word();
    const std::uint16_t sectionCount = header.Word();
    header.Skip(12);
    const std::uint16_t optionalHeaderSize = header.Word();
    header.Skip(2);
    const std::size_t optionalHeader = header.Offset();
    const bool pe32Plus = header.Word() == kPe32PlusMagic;
    // The resource table is the third data directory.
    const std::uint32_t resourceRva =
        Reader(bytes, optionalHeader + (pe32Plus ? 112 : 96) + 2 * 8).Dword();

    // The section holding the tree maps its addresses to file offsets.
    std::optional<std::int64_t> rvaToOffset;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        Reader section(bytes, optionalHeader + optionalHeaderSize + 40u * i);
        section.Skip(8);
        const std::uint32_t size = section.Dword();
        const std::uint32_t address = section.Dword();
        section.Skip(4);
        const std::uint32_t rawData = section.Dword();
        if (resourceRva >= address && resourceRva < address + size)
            rvaToOffset = std::int64_t{rawData} - address;
    }
    if (resourceRva == 0 || !rvaToOffset)
        return program;
    const auto tree = static_cast<std::size_t>(resourceRva + *rvaToOffset);

    ForEachEntry(bytes, tree, 0, [&](const std::u16string& type, std::uint32_t names) {
        ForEachEntry(bytes, tree, names, [&](const std::u16string& name, std::uint32_t languages) {
            ForEachEntry(bytes, tree, languages,
                         [&](const std::u16string& language, std::uint32_t dataEntry) {
                             Reader data(bytes, tree + dataEntry);
                             const auto offset =
                                 static_cast<std::size_t>(data.Dword() + *rvaToOffset);
                             const std::uint32_t size = data.Dword();
                             const auto languageId = static_cast<std::uint16_t>(std::stoi(
                                 std::string(language.begin() + 1, language.end()))); // "#N"
                             program.resources.push_back(
                                 {type, name, languageId,
                                  offset < bytes.size() ? bytes.substr(offset, size) : ""});
                         });
        });
    });
    return program;
}

struct Build {
    const char* name;
    const char* program;
    std::uint16_t machine;
    const char* manifestProcessor;
};

void PrintTo(const Build& build, std::ostream* out) {
    *out << build.name;
}

class ResourceTest : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override {
        m_program = ReadProgram(GetParam().program);
        ASSERT_FALSE(m_program.resources.empty())
            << "no resources read from " << GetParam().program << ": build the Windows presets";
    }

    const Resource* Find(std::uint16_t type, std::uint16_t name) const {
        for (const Resource& resource : m_program.resources) {
            if (resource.type == Ordinal(type) && resource.name == Ordinal(name))
                return &resource;
        }
        return nullptr;
    }

    Program m_program;
};

struct Control {
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
    std::uint32_t id;
    std::u16string windowClass;
    std::u16string text;
};

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text) {
        if (c < 0x80)
            c = static_cast<char16_t>(std::toupper(c));
    }
    return text;
}

TEST_P(ResourceTest, DialogTemplateIsTheProgressDialog) {
    const Resource* dialog = Find(kDialog, 102);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->language, kChinesePrc);

    Reader dialogTemplate(dialog->data, 0);
    EXPECT_EQ(dialogTemplate.Word(), 1);      // extended template
    EXPECT_EQ(dialogTemplate.Word(), 0xFFFF); // ...signature
    EXPECT_EQ(dialogTemplate.Dword(), 0u);    // help id
    EXPECT_EQ(dialogTemplate.Dword(), 0x00040000u);
    EXPECT_EQ(dialogTemplate.Dword(), 0x90CA00C0u);
    const std::uint16_t controlCount = dialogTemplate.Word();
    EXPECT_EQ(dialogTemplate.Word(), 0);
    EXPECT_EQ(dialogTemplate.Word(), 0);
    EXPECT_EQ(dialogTemplate.Word(), 186);
    EXPECT_EQ(dialogTemplate.Word(), 78);
    EXPECT_EQ(dialogTemplate.NameOrOrdinal(), u""); // no menu
    EXPECT_EQ(dialogTemplate.NameOrOrdinal(), u""); // the default dialog class
    EXPECT_EQ(dialogTemplate.String(), u"雾岭纪元手动更新");
    EXPECT_EQ(dialogTemplate.Word(), 9); // points
    EXPECT_EQ(dialogTemplate.Word(), 0); // weight
    EXPECT_EQ(dialogTemplate.Byte(), 0); // italic
    EXPECT_EQ(dialogTemplate.Byte(), 1); // DEFAULT_CHARSET
    EXPECT_EQ(dialogTemplate.String(), u"宋体");

    const std::vector<Control> expected = {
        {0x50020000, 96, 18, 81, 8, 1002, u"#130", u"更新版本"},
        {0x50020000, 12, 18, 79, 8, 1003, u"#130", u"本地版本"},
        {0x50020000, 12, 34, 33, 8, 0xFFFFFFFF, u"#130", u"更新进度"},
        {0x50800000, 50, 34, 126, 9, 1006, u"msctls_progress32", u""},
        {0x50000007, 4, 4, 177, 47, 0xFFFFFFFF, u"#128", u"状态"},
        {0x50010000, 4, 56, 177, 14, 1004, u"#128", u"更新结束，点击退出！"},
    };
    ASSERT_EQ(controlCount, expected.size());
    for (const Control& want : expected) {
        SCOPED_TRACE(want.id);
        dialogTemplate.AlignToDword();
        EXPECT_EQ(dialogTemplate.Dword(), 0u); // help id
        EXPECT_EQ(dialogTemplate.Dword(), 0u); // extended style
        EXPECT_EQ(dialogTemplate.Dword(), want.style);
        EXPECT_EQ(static_cast<std::int16_t>(dialogTemplate.Word()), want.x);
        EXPECT_EQ(static_cast<std::int16_t>(dialogTemplate.Word()), want.y);
        EXPECT_EQ(static_cast<std::int16_t>(dialogTemplate.Word()), want.cx);
        EXPECT_EQ(static_cast<std::int16_t>(dialogTemplate.Word()), want.cy);
        EXPECT_EQ(dialogTemplate.Dword(), want.id);
        // Class names are looked up without regard to case; windres stores them in capitals.
        EXPECT_EQ(Upper(dialogTemplate.NameOrOrdinal()), Upper(want.windowClass));
        EXPECT_EQ(dialogTemplate.NameOrOrdinal(), want.text);
        dialogTemplate.Skip(dialogTemplate.Word()); // creation data
    }
}

TEST_P(ResourceTest, IconHoldsFiveImagesOf32Bits) {
    const Resource* group = Find(kGroupIcon, 128);
    ASSERT_NE(group, nullptr);
    Reader directory(group->data, 0);
    directory.Skip(2);
    EXPECT_EQ(directory.Word(), 1); // icons
    const std::uint16_t count = directory.Word();
    ASSERT_EQ(count, 5);
    for (const int size : {64, 48, 32, 24, 16}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(directory.Byte(), size);
        EXPECT_EQ(directory.Byte(), size);
        directory.Skip(2 + 2); // colour count, reserved, planes
        EXPECT_EQ(directory.Word(), 32);
        directory.Skip(4);
        const Resource* image = Find(kIcon, directory.Word());
        ASSERT_NE(image, nullptr);
        Reader bitmap(image->data, 0);
        EXPECT_EQ(bitmap.Dword(), 40u); // BITMAPINFOHEADER
        EXPECT_EQ(bitmap.Dword(), static_cast<std::uint32_t>(size));
        bitmap.Skip(4 + 2);
        EXPECT_EQ(bitmap.Word(), 32); // bits per pixel
    }
}

// The attributes of the element that holds the given one, up to the element's end; empty when
// there is no such element.
std::string ElementWith(const std::string& xml, const std::string& attribute) {
    const std::size_t at = xml.find(attribute);
    if (at == std::string::npos)
        return {};
    const std::size_t start = xml.rfind('<', at);
    return xml.substr(start, xml.find("/>", at) - start);
}

// The common controls of another processor would not load: each build names its own, and so does
// the program's own identity.
TEST_P(ResourceTest, ManifestAsksForAdministratorCommonControls6OfItsProcessorAndSystemDpi) {
    EXPECT_EQ(m_program.machine, GetParam().machine);
    const Resource* manifest = Find(kManifest, 1);
    ASSERT_NE(manifest, nullptr);
    const std::string& xml = manifest->data;
    for (const char* part :
         {"level=\"requireAdministrator\" uiAccess=\"false\"",
          "<dpiAware "
          "xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
          ">system</dpiAwareness>"})
        EXPECT_NE(xml.find(part), std::string::npos) << part;

    const std::string processor =
        "processorArchitecture=\"" + std::string(GetParam().manifestProcessor) + "\"";
    const std::string commonControls =
        ElementWith(xml, "name=\"Microsoft.Windows.Common-Controls\"");
    EXPECT_NE(commonControls.find("version=\"6.0.0.0\""), std::string::npos) << commonControls;
    EXPECT_NE(commonControls.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
    EXPECT_NE(commonControls.find(processor), std::string::npos) << commonControls;
    const std::string identity = ElementWith(xml, "name=\"QRTManualPatch\"");
    EXPECT_NE(identity.find(processor), std::string::npos) << identity;
}

// The value of a string in the version block: it follows its key, aligned to 32 bits.
std::optional<std::u16string> VersionString(const std::string& block, const std::u16string& key) {
    const std::string keyBytes(reinterpret_cast<const char*>(key.c_str()), (key.size() + 1) * 2);
    const std::size_t at = block.find(keyBytes);
    if (at == std::string::npos)
        return std::nullopt;
    Reader value(block, at + keyBytes.size());
    value.AlignToDword();
    return value.String();
}

TEST_P(ResourceTest, VersionBlockIs1001WithTheProgramsNames) {
    const Resource* version = Find(kVersion, 1);
    ASSERT_NE(version, nullptr);
    const std::string signature = "\xBD\x04\xEF\xFE";
    const std::size_t fixed = version->data.find(signature);
    ASSERT_NE(fixed, std::string::npos);
    Reader numbers(version->data, fixed + 8);
    EXPECT_EQ(numbers.Dword(), 0x00010000u); // file version 1.0
    EXPECT_EQ(numbers.Dword(), 0x00000001u); // ...0.1
    EXPECT_EQ(numbers.Dword(), 0x00010000u); // product version
    EXPECT_EQ(numbers.Dword(), 0x00000001u);
    EXPECT_EQ(VersionString(version->data, u"InternalName"), u"QRTManualPatch.exe");
    EXPECT_EQ(VersionString(version->data, u"OriginalFilename"), u"QRTManualPatch.exe");
    EXPECT_EQ(VersionString(version->data, u"FileVersion"), u"1.0.0.1");
    EXPECT_EQ(VersionString(version->data, u"ProductVersion"), u"1.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Builds, ResourceTest,
                         ::testing::Values(Build{"Win32", QRT_WIN32_PROGRAM, 0x014C, "x86"},
                                           Build{"Win64", QRT_WIN64_PROGRAM, 0x8664, "amd64"}),
                         [](const ::testing::TestParamInfo<Build>& build) {
                             return std::string(build.param.name);
                         });

} // namespace
