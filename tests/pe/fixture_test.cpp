// A small program built at test build time, as PE32 by the i686 toolchain and as PE32+ by
// the x86_64 one, from one resource script (fixture/fixture.rc): every value the script
// states must come back from both.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "ansi936.hpp"
#include "describe.hpp"
#include "file_version_probe.hpp"
#include "icon_group.hpp"
#include "imports.hpp"
#include "string_table.hpp"

namespace {

std::string FixturePath(int bits) { return std::string(FIXTURE_DIR) + "/fixture" + std::to_string(bits) + ".exe"; }

class Fixture : public testing::TestWithParam<int> {
 protected:
  const pe::PeImage& image() const { return *image_; }
  pe::Bytes Data(std::uint16_t type, const pe::ResourceId& name) const {
    const auto resource = pe::LocateResource(image(), type, name, pe::lang::kChinesePrc);
    return resource ? resource->data : pe::Bytes();
  }

 private:
  std::optional<pe::PeImage> image_ = pe::PeImage::Load(FixturePath(GetParam()));
};

INSTANTIATE_TEST_SUITE_P(Bits, Fixture, testing::Values(32, 64));

// The pe-version tool's output; its exit status goes to `status`.
std::string RunTool(const std::string& arguments, int& status) {
  FILE* pipe = popen((std::string(PE_VERSION_TOOL) + " " + arguments + " 2>/dev/null").c_str(), "r");
  std::string output;
  char buffer[256];
  for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  status = pipe != nullptr ? WEXITSTATUS(pclose(pipe)) : -1;
  return output;
}

}  // namespace

TEST_P(Fixture, HeadersSectionsImportsAndNamedResources) {
  const bool wide = GetParam() == 64;
  EXPECT_EQ(image().format(), wide ? pe::Format::Pe32Plus : pe::Format::Pe32);
  EXPECT_EQ(image().machine(), wide ? pe::machine::kAmd64 : pe::machine::kI386);
  EXPECT_EQ(image().subsystem(), pe::subsystem::kWindowsGui);

  const auto& sections = image().sections();
  const auto rsrc =
      std::find_if(sections.begin(), sections.end(), [](const pe::Section& s) { return s.name == ".rsrc"; });
  ASSERT_NE(rsrc, sections.end());
  EXPECT_EQ(image().directory(pe::directory::kResource).rva, rsrc->virtualAddress);
  EXPECT_EQ(image().RvaToOffset(rsrc->virtualAddress + 6), rsrc->rawOffset + 6u);
  EXPECT_FALSE(image().RvaToOffset(rsrc->virtualAddress + rsrc->rawSize));
  EXPECT_FALSE(image().BytesAt(rsrc->virtualAddress + rsrc->rawSize - 4, 8));

  std::vector<std::string> imports;
  for (const pe::ImportedDll& dll : pe::ReadImports(image()))
    for (const pe::ImportedFunction& function : dll.functions) imports.push_back(dll.name + "!" + function.name);
  EXPECT_EQ(imports, (std::vector<std::string>{"KERNEL32.dll!ExitProcess", "VERSION.dll!GetFileVersionInfoSizeA"}));

  // windres stores names in capitals; lookups ignore case, as FindResource does.
  EXPECT_EQ(pe::ListResources(image()).size(), 12u);
  const auto readme = pe::LocateResource(image(), pe::rt::kRcData, u"readme", pe::lang::kChinesePrc);
  ASSERT_TRUE(readme);
  EXPECT_EQ(std::string(readme->data.begin(), readme->data.end()), std::string("hello\0", 6));
  EXPECT_TRUE(pe::LocateResource(image(), u"FixtureKind", 1, pe::lang::kChinesePrc));
  EXPECT_FALSE(pe::LocateResource(image(), u"FixtureKind", 1, pe::lang::kEnglishUs));
}

TEST_P(Fixture, DialogTemplatesClassicAndExtended) {
  const auto classic = pe::ParseDialogTemplate(Data(pe::rt::kDialog, 100));
  ASSERT_TRUE(classic);
  // DS_SETFONT (0x40) comes with the FONT statement.
  EXPECT_EQ(describe::Of(*classic),
            "classic style 80c800c0 ex 0 help 0 at 0,0,235,55 menu - class - caption 关于 示例 font 9 0 0 0 宋体");
  EXPECT_EQ(describe::Controls(*classic),
            (std::vector<std::string>{"-1 (ffff) STATIC #128 style 50000003 ex 0 help 0 at 11,17,20,20",
                                      "-1 (ffff) #130 示例 1.0 版 style 50020080 ex 0 help 0 at 40,10,119,8",
                                      "1 (1) #128 确定 style 50030001 ex 0 help 0 at 178,7,50,14"}));

  const auto extended = pe::ParseDialogTemplate(Data(pe::rt::kDialog, 102));
  ASSERT_TRUE(extended);
  EXPECT_EQ(describe::Of(*extended),
            "ex style 90c00048 ex 80 help 4242 at 10,20,186,40 menu #200 class FIXTUREDIALOG caption 进度 font 9 700 1 "
            "86 宋体");
  // windres writes an ICON statement without its size.
  EXPECT_EQ(describe::Controls(*extended),
            (std::vector<std::string>{"1000 (3e8) #130 正在检查更新... style 50020000 ex 0 help 0 at 10,10,166,10",
                                      "1001 (3e9) MSCTLS_PROGRESS32 - style 50800000 ex 200 help 4711 at 10,24,166,8",
                                      "-1 (ffffffff) #130 #128 style 50000003 ex 0 help 0 at 150,4,0,0",
                                      "2 (2) #128 取消 style 50010000 ex 0 help 0 at 130,24,50,14"}));
}

TEST_P(Fixture, StringTableIconsAndVersionBlock) {
  EXPECT_EQ(pe::FindStringResourceForSystem(image(), 101), u"关于 示例(&A)...");
  EXPECT_EQ(pe::FindStringResource(image(), 102, pe::lang::kChinesePrc), u"second");
  EXPECT_EQ(pe::FindStringResourceForSystem(image(), 4097), u"far away");  // block 257
  EXPECT_FALSE(pe::FindStringResourceForSystem(image(), 103));
  EXPECT_FALSE(pe::FindStringResource(image(), 101, pe::lang::kEnglishUs));

  const auto group = pe::ParseIconGroup(Data(pe::rt::kGroupIcon, 128));
  ASSERT_TRUE(group);
  std::vector<std::string> icons;
  for (const pe::IconGroupEntry& entry : *group) {
    const pe::Bytes data = Data(pe::rt::kIcon, entry.iconId);
    const auto header = pe::ParseIconImage(data);
    ASSERT_TRUE(header);
    EXPECT_EQ(data.size(), entry.bytesInResource);
    icons.push_back(std::to_string(entry.width) + "x" + std::to_string(entry.height) + "x" +
                    std::to_string(entry.bitCount) + (header->png ? " png " : " bmp ") + std::to_string(header->width) +
                    "x" + std::to_string(header->height));
  }
  // A bitmap's height counts its mask too.
  EXPECT_EQ(icons, (std::vector<std::string>{"16x16x32 bmp 16x32", "32x32x32 bmp 32x64", "256x256x32 png 256x256"}));

  const auto info = pe::ReadVersionInfo(image());
  ASSERT_TRUE(info && info->fixed());
  EXPECT_EQ(info->fixed()->fileVersion, (pe::VersionNumber{1, 0, 0, 3}));
  EXPECT_EQ(info->fixed()->productVersion, (pe::VersionNumber{1, 0, 0, 4}));
  EXPECT_EQ(describe::Tables(*info),
            (std::vector<std::string>{
                "080404B0: FileDescription=测试程序; FileVersion=1, 0, 0, 3; ProductVersion=1, 0, 0, 4;",
                "040904b0: FileVersion=9, 9, 9, 9;"}));
  ASSERT_EQ(info->translations().size(), 2u);
  EXPECT_EQ(std::pair(info->translations()[1].language, info->translations()[1].codePage),
            (std::pair<std::uint16_t, std::uint16_t>(0x409, 1200)));
  // Names match without regard to case, as VerQueryValue matches them.
  EXPECT_EQ(info->FindString(u"080404b0", u"fileversion"), u"1, 0, 0, 3");
  EXPECT_EQ(info->Query(u"\\StringFileInfo\\040904B0\\FileVersion")->text, u"9, 9, 9, 9");
  EXPECT_FALSE(info->FindString(u"080404b0", u"CompanyName"));
  // The Chinese block, not the English one (2, 0, 0, 0), which an English system reads.
  EXPECT_EQ(pe::ProbeFileVersionUtf16(image()), u"1,0,0,3");
  EXPECT_EQ(pe::ReadVersionInfo(image(), pe::lang::kEnglishUs)->FindString(u"080404b0", u"FileVersion"), u"2, 0, 0, 0");
}

TEST(Ansi936, ConvertsAsTheChineseCodePageOfWindows) {
  EXPECT_EQ(pe::ToAnsi936(u"测试程序 1.0"), "\xB2\xE2\xCA\xD4\xB3\xCC\xD0\xF2 1.0");
  EXPECT_EQ(pe::ToAnsi936(u"\u20AC"), "\x80");
  EXPECT_EQ(pe::ToAnsi936(u"a\u0E01b"), "a?b");                  // Thai: not in the code page
  EXPECT_EQ(pe::ToAnsi936(std::u16string(u"x\xD800y")), "x?y");  // unpaired surrogate
}

TEST(PeVersionTool, PrintsTheProbeResultAndSucceedsWhenEmpty) {
  int status = -1;
  EXPECT_EQ(RunTool(FixturePath(32), status), "1,0,0,3\n");
  EXPECT_EQ(RunTool(FixturePath(32) + " 040904B0", status), "9,9,9,9\n");
  EXPECT_EQ(RunTool(FixturePath(32) + " 041104b0", status), "\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunTool(std::string(FIXTURE_DIR) + "/missing.exe", status), "\n");
  EXPECT_EQ(status, 0);
  RunTool("", status);
  EXPECT_EQ(status, 2);
}
