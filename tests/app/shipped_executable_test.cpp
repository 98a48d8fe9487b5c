// The shipped 32-bit Merovast.exe as Windows will load it: machine, subsystem, the DLLs it
// needs, and every resource value a user sees (dialogs, About label, icon, version block).
// The expected values are written out here, not taken from the resource header.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "dialog_template.hpp"
#include "icon_group.hpp"
#include "imports.hpp"
#include "pe_image.hpp"
#include "resource_directory.hpp"
#include "string_table.hpp"
#include "version_info.hpp"

namespace {

using testing::Each;
using testing::ElementsAre;
using testing::Field;
using testing::IsSubsetOf;
using testing::Not;
using testing::Property;
using testing::SizeIs;

constexpr std::uint16_t kChinesePrc = 0x0804;
constexpr int kStaticId = -1;

class ShippedExecutable : public testing::Test {
 protected:
  static void SetUpTestSuite() { image_ = pe::PeImage::Load(MEROVAST_EXE); }
  static void TearDownTestSuite() { image_.reset(); }

  // A missing or unreadable executable fails every test: the win32 build must come first.
  void SetUp() override { ASSERT_TRUE(image_.has_value()) << "cannot read " << MEROVAST_EXE; }

  static pe::Bytes Resource(std::uint16_t type, std::uint16_t name) {
    std::optional<pe::Resource> resource = pe::LocateResource(*image_, type, name, kChinesePrc);
    if (!resource) {
      ADD_FAILURE() << "no resource " << type << "/" << name << " in language 0x0804";
      return {};
    }
    return resource->data;
  }

  static pe::DialogTemplate Dialog(std::uint16_t id) {
    std::optional<pe::DialogTemplate> dialog = pe::ParseDialogTemplate(Resource(pe::rt::kDialog, id));
    if (!dialog) {
      ADD_FAILURE() << "dialog " << id << " does not parse";
      return {};
    }
    return *dialog;
  }

  static inline std::optional<pe::PeImage> image_;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

void ExpectGeometry(const pe::DialogControl& control, int x, int y, int cx, int cy) {
  EXPECT_EQ(control.x, x);
  EXPECT_EQ(control.y, y);
  EXPECT_EQ(control.cx, cx);
  EXPECT_EQ(control.cy, cy);
}

TEST_F(ShippedExecutable, Is32BitGuiProgram) {
  EXPECT_EQ(image_->format(), pe::Format::Pe32);
  EXPECT_EQ(image_->machine(), 0x014C);
  EXPECT_EQ(image_->subsystem(), 2);
}

TEST_F(ShippedExecutable, ImportsOnlySystemDllsAndNoToolchainRuntime) {
  std::vector<std::string> dlls;
  for (const std::string& name : pe::ImportedDllNames(*image_)) dlls.push_back(Lower(name));
  EXPECT_THAT(dlls, IsSubsetOf({"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "shlwapi.dll", "advapi32.dll",
                                "wininet.dll", "version.dll", "winmm.dll", "msvcrt.dll", "bcrypt.dll"}));
  EXPECT_THAT(dlls, testing::IsSupersetOf({"user32.dll", "shell32.dll", "wininet.dll", "version.dll"}));
}

TEST_F(ShippedExecutable, ImportsTheFunctionsOfTheWindowHelpAndLaunch) {
  std::vector<std::string> functions;
  for (const pe::ImportedDll& dll : pe::ReadImports(*image_)) {
    for (const pe::ImportedFunction& function : dll.functions)
      functions.push_back(Lower(dll.name) + "!" + function.name);
  }
  EXPECT_THAT(functions, testing::IsSupersetOf({"user32.dll!DialogBoxParamA", "user32.dll!WinHelpA",
                                                "user32.dll!SetTimer", "shell32.dll!ShellExecuteA"}));
}

TEST_F(ShippedExecutable, EveryResourceIsChinesePrc) {
  const std::vector<pe::Resource> resources = pe::ListResources(*image_);
  EXPECT_THAT(resources, Not(testing::IsEmpty()));
  EXPECT_THAT(resources, Each(Field(&pe::Resource::language, kChinesePrc)));
}

TEST_F(ShippedExecutable, ProgressDialogIsTheExtendedTemplate102) {
  const pe::DialogTemplate dialog = Dialog(102);
  EXPECT_TRUE(dialog.extended);
  EXPECT_EQ(dialog.style, 0x900000C0u);
  EXPECT_EQ(dialog.exStyle, 0x00040000u);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.cx, 171);
  EXPECT_EQ(dialog.cy, 35);
  EXPECT_EQ(dialog.caption, u"");
  EXPECT_FALSE(dialog.menu.ordinal.has_value());
  EXPECT_EQ(dialog.menu.name, u"");
  ASSERT_TRUE(dialog.font.has_value());
  EXPECT_EQ(dialog.font->pointSize, 9);
  EXPECT_EQ(dialog.font->faceName, u"宋体");
  EXPECT_EQ(dialog.font->weight, 0);
  EXPECT_FALSE(dialog.font->italic);
  EXPECT_EQ(dialog.font->charset, 1);

  ASSERT_THAT(dialog.controls, SizeIs(1));
  const pe::DialogControl& notice = dialog.controls[0];
  EXPECT_EQ(notice.id, kStaticId);
  EXPECT_TRUE(notice.windowClass.IsOrdinal(pe::control_class::kStatic));
  EXPECT_TRUE(notice.text.IsName(u"系统正在初始化，请稍侯..."));
  ExpectGeometry(notice, 35, 14, 101, 8);
  EXPECT_EQ(notice.style, 0x50020000u);
}

TEST_F(ShippedExecutable, AboutBoxIsTheClassicTemplate100) {
  const pe::DialogTemplate dialog = Dialog(100);
  EXPECT_FALSE(dialog.extended);
  EXPECT_EQ(dialog.style, 0x80C800C0u);
  EXPECT_EQ(dialog.exStyle, 0u);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.cx, 235);
  EXPECT_EQ(dialog.cy, 55);
  EXPECT_EQ(dialog.caption, u"关于 Merovast");
  ASSERT_TRUE(dialog.font.has_value());
  EXPECT_EQ(dialog.font->pointSize, 9);
  EXPECT_EQ(dialog.font->faceName, u"宋体");

  ASSERT_THAT(dialog.controls, SizeIs(4));
  const pe::DialogControl& icon = dialog.controls[0];
  EXPECT_EQ(icon.id, kStaticId);
  EXPECT_TRUE(icon.windowClass.IsOrdinal(pe::control_class::kStatic));
  EXPECT_TRUE(icon.text.IsOrdinal(128));
  ExpectGeometry(icon, 11, 17, 20, 20);
  EXPECT_EQ(icon.style, 0x50000003u);

  const pe::DialogControl& name = dialog.controls[1];
  EXPECT_EQ(name.id, kStaticId);
  EXPECT_TRUE(name.windowClass.IsOrdinal(pe::control_class::kStatic));
  EXPECT_TRUE(name.text.IsName(u"Merovast 1.0 版"));
  ExpectGeometry(name, 40, 10, 119, 8);
  EXPECT_EQ(name.style, 0x50020080u);

  const pe::DialogControl& copyright = dialog.controls[2];
  EXPECT_EQ(copyright.id, kStaticId);
  EXPECT_TRUE(copyright.windowClass.IsOrdinal(pe::control_class::kStatic));
  EXPECT_FALSE(copyright.text.ordinal.has_value());
  EXPECT_NE(copyright.text.name, u"");
  ExpectGeometry(copyright, 40, 25, 119, 8);
  EXPECT_EQ(copyright.style, 0x50020000u);

  const pe::DialogControl& ok = dialog.controls[3];
  EXPECT_EQ(ok.id, 1);
  EXPECT_TRUE(ok.windowClass.IsOrdinal(pe::control_class::kButton));
  EXPECT_TRUE(ok.text.IsName(u"确定"));
  ExpectGeometry(ok, 178, 7, 50, 14);
  EXPECT_EQ(ok.style, 0x50030001u);
}

TEST_F(ShippedExecutable, String101LabelsTheAboutEntry) {
  EXPECT_EQ(pe::FindStringResource(*image_, 101, kChinesePrc), u"关于 Merovast(&A)...");
}

TEST_F(ShippedExecutable, Icon128IsOne128PixelImageWith32BitsPerPixel) {
  const std::optional<std::vector<pe::IconGroupEntry>> group = pe::ParseIconGroup(Resource(pe::rt::kGroupIcon, 128));
  ASSERT_TRUE(group.has_value());
  ASSERT_THAT(*group, SizeIs(1));
  EXPECT_EQ((*group)[0].width, 128);
  EXPECT_EQ((*group)[0].height, 128);
  EXPECT_EQ((*group)[0].bitCount, 32);

  const std::optional<pe::IconImageHeader> image = pe::ParseIconImage(Resource(pe::rt::kIcon, (*group)[0].iconId));
  ASSERT_TRUE(image.has_value());
  EXPECT_FALSE(image->png);
  EXPECT_EQ(image->width, 128);
  EXPECT_EQ(image->height, 256);  // colour and mask bitmaps
  EXPECT_EQ(image->bitCount, 32);
}

TEST_F(ShippedExecutable, VersionBlockIs1003WithAChinesePrcUnicodeTable) {
  const std::optional<pe::VersionInfo> version = pe::VersionInfo::Parse(Resource(pe::rt::kVersion, 1));
  ASSERT_TRUE(version.has_value());
  const std::optional<pe::FixedFileInfo> fixed = version->fixed();
  ASSERT_TRUE(fixed.has_value());
  EXPECT_THAT(fixed->fileVersion, ElementsAre(1, 0, 0, 3));
  EXPECT_THAT(fixed->productVersion, ElementsAre(1, 0, 0, 3));

  EXPECT_THAT(version->stringTables(), ElementsAre(Field(&pe::StringTable::name, u"080404b0")));
  EXPECT_EQ(version->FindString(u"080404b0", u"FileVersion"), u"1, 0, 0, 3");
  EXPECT_EQ(version->FindString(u"080404b0", u"ProductVersion"), u"1, 0, 0, 3");
  EXPECT_EQ(version->FindString(u"080404b0", u"OriginalFilename"), u"Merovast.exe");
  EXPECT_EQ(version->FindString(u"080404b0", u"ProductName"), u"Merovast");
  for (const char16_t* key :
       {u"CompanyName", u"FileDescription", u"InternalName", u"LegalCopyright", u"LegalTrademarks"}) {
    const std::optional<std::u16string> value = version->FindString(u"080404b0", key);
    EXPECT_TRUE(value.has_value() && !value->empty()) << "name string missing";
  }
  EXPECT_THAT(version->translations(), ElementsAre(AllOf(Field(&pe::Translation::language, kChinesePrc),
                                                         Field(&pe::Translation::codePage, 1200))));
}

}  // namespace
