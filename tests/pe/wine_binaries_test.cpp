// Wine's own Windows binaries, written by a toolchain other than ours, read by the reader
// and by winedump: both must see the same headers, imports and resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>

#include "describe.hpp"
#include "file_version_probe.hpp"
#include "icon_group.hpp"
#include "imports.hpp"
#include "string_table.hpp"
#include "utf16.hpp"
#include "winedump.hpp"

namespace {

const std::filesystem::path kWineDir = WINE_WINDOWS_DIR;

pe::PeImage LoadWine(const std::string& name) {
  auto image = pe::PeImage::Load(kWineDir / name);
  if (!image) throw std::runtime_error("cannot read " + name);
  return std::move(*image);
}

// Every `stride`-th PE file below 400 KB (winedump's time grows with what it prints), plus
// files with traits of their own: 36 translated version blocks, an English-only version
// block with code page 1252, no version block but dialogs, strings and icons.
std::vector<std::string> Sample(std::size_t stride) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kWineDir))
    if (entry.path().extension() != ".a" && entry.file_size() < std::uintmax_t{400} * 1024)
      names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  std::vector<std::string> sample = {"kernel32.dll", "zlib1.dll", "notepad.exe"};
  for (std::size_t i = 0; i < names.size(); i += stride) sample.push_back(names[i]);
  return sample;
}

std::string Label(const pe::ResourceId& id, bool type) {
  static const std::map<std::uint16_t, std::string> types = {
      {1, "CURSOR"},      {2, "BITMAP"},      {3, "ICON"},        {4, "MENU"},          {5, "DIALOG"},
      {6, "STRING"},      {9, "ACCELERATOR"}, {10, "RCDATA"},     {11, "MESSAGETABLE"}, {12, "GROUP_CURSOR"},
      {14, "GROUP_ICON"}, {16, "VERSION"},    {24, "RT_MANIFEST"}};
  if (!id.isOrdinal()) return "L\"" + pe::ToUtf8(id.name()) + "\"";
  if (type && types.count(id.ordinal()) != 0) return types.at(id.ordinal());
  char hex[8];
  (void)std::snprintf(hex, sizeof hex, "%04x", id.ordinal());
  return hex;
}

// FileVersion values found by scanning a block's bytes for the key, without walking its tree.
std::vector<std::u16string> ScanFileVersions(const std::vector<std::uint8_t>& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  std::vector<std::u16string> values;
  const std::u16string key(u"FileVersion\0", 12);
  for (std::size_t at = units.find(key); at != std::u16string::npos; at = units.find(key, at + 1)) {
    std::size_t value = ((at + key.size()) * 2 + 3) / 4 * 2;  // 4-byte aligned, in units
    values.push_back(units.substr(value, units.find(u'\0', value) - value));
  }
  return values;
}

void ExpectSameResources(const pe::PeImage& image, const std::vector<winedump::Resource>& dumped) {
  const std::vector<pe::Resource> resources = pe::ListResources(image);
  ASSERT_EQ(resources.size(), dumped.size());
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const pe::Resource& mine = resources[i];
    SCOPED_TRACE(dumped[i].type + " " + dumped[i].name);
    EXPECT_EQ(Label(mine.type, true), dumped[i].type);
    EXPECT_EQ(Label(mine.name, false), dumped[i].name);
    EXPECT_EQ(mine.language, dumped[i].language);
    if (!dumped[i].decoded) {
      EXPECT_TRUE(std::equal(mine.data.begin(), mine.data.end(), dumped[i].bytes.begin(), dumped[i].bytes.end()));
    }
    if (mine.type != pe::ResourceId(pe::rt::kString)) continue;
    // Each string at its place in the block, and the block's last one also found by its id.
    const auto block = pe::ParseStringBlock(mine.data);
    ASSERT_TRUE(block);
    std::map<std::uint16_t, std::u16string> strings;
    for (std::size_t entry = 0; entry < 16; ++entry)
      if (!(*block)[entry].empty())
        strings[static_cast<std::uint16_t>((std::size_t{mine.name.ordinal()} - 1) * 16 + entry)] = (*block)[entry];
    EXPECT_EQ(strings, dumped[i].strings);
    if (!strings.empty()) {
      EXPECT_EQ(pe::FindStringResource(image, strings.rbegin()->first, mine.language), strings.rbegin()->second);
    }
  }
}

void ExpectSameVersionBlocks(const pe::PeImage& image, const std::vector<winedump::Resource>& dumped) {
  bool chineseTable = false;
  for (const winedump::Resource& resource : dumped) {
    if (resource.type != "VERSION") continue;
    SCOPED_TRACE(resource.language);
    const auto info = pe::VersionInfo::Parse(resource.bytes);
    ASSERT_TRUE(info);
    std::vector<std::u16string> versions;
    for (const pe::StringTable& table : info->stringTables()) {
      if (const auto version = info->FindString(table.name, u"FileVersion")) versions.push_back(*version);
      chineseTable = chineseTable || pe::EqualsIgnoringCase(table.name, u"080404b0");
    }
    EXPECT_EQ(versions, ScanFileVersions(resource.bytes));
    static constexpr std::array<std::uint8_t, 4> kSignature = {0xBD, 0x04, 0xEF, 0xFE};
    const auto signature =
        std::search(resource.bytes.begin(), resource.bytes.end(), kSignature.begin(), kSignature.end());
    ASSERT_NE(signature, resource.bytes.end());
    ASSERT_TRUE(info->fixed());
    const auto word = [&](std::ptrdiff_t at) {
      return static_cast<std::uint16_t>(signature[at] | signature[at + 1] << 8);
    };
    EXPECT_EQ(info->fixed()->fileVersion, (pe::VersionNumber{word(10), word(8), word(14), word(12)}));
  }
  if (!chineseTable) {
    EXPECT_EQ(pe::ProbeFileVersionUtf16(image), u"");
  }
}

}  // namespace

TEST(WineBinaries, ResourcesAndVersionBlocksMatchWinedump) {
  int versionBlocks = 0;
  for (const std::string& name : Sample(4)) {
    SCOPED_TRACE(name);
    const pe::PeImage image = LoadWine(name);
    const std::vector<winedump::Resource> dumped = winedump::Resources(kWineDir / name);
    ExpectSameResources(image, dumped);
    ExpectSameVersionBlocks(image, dumped);
    versionBlocks += static_cast<int>(
        std::count_if(dumped.begin(), dumped.end(), [](const auto& r) { return r.type == "VERSION"; }));
  }
  EXPECT_GT(versionBlocks, 50);
}

TEST(WineBinaries, HeadersAndImportsMatchWinedump) {
  for (const std::string& name : Sample(8)) {
    SCOPED_TRACE(name);
    const pe::PeImage image = LoadWine(name);
    const winedump::Headers headers = winedump::ReadHeaders(kWineDir / name);
    EXPECT_EQ(image.machine(), headers.machine);
    EXPECT_EQ(image.sections().size(), headers.sectionCount);
    EXPECT_EQ(image.format() == pe::Format::Pe32Plus ? 0x20B : 0x10B, headers.magic);
    EXPECT_EQ(image.subsystem(), headers.subsystem);
    EXPECT_EQ(image.imageBase(), headers.imageBase);
    for (const auto& [directoryName, index] :
         {std::pair{"IMPORT", pe::directory::kImport}, {"RESOURCE", pe::directory::kResource}})
      EXPECT_EQ(std::pair(image.directory(index).rva, image.directory(index).size),
                headers.directories.at(directoryName));

    std::vector<winedump::Import> imports;
    for (const pe::ImportedDll& dll : pe::ReadImports(image)) {
      imports.push_back({dll.name, {}});
      for (const pe::ImportedFunction& f : dll.functions)
        imports.back().functions.emplace_back(f.ordinal ? *f.ordinal : f.hint, f.ordinal ? "<by ordinal>" : f.name);
    }
    EXPECT_TRUE(imports == winedump::Imports(kWineDir / name));
  }
}

TEST(WineBinaries, KnownFactsOfNotepadAndKernel32) {
  const pe::PeImage notepad = LoadWine("notepad.exe");
  // The Chinese encoding bar: a classic template in the 0804 language (bytes as winedump shows them).
  const auto dialog =
      pe::ParseDialogTemplate(pe::LocateResource(notepad, pe::rt::kDialog, 0x190, pe::lang::kChinesePrc)->data);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(describe::Of(*dialog),
            "classic style 54800444 ex 0 help 0 at 50,50,300,15 menu - class - caption  font 9 0 0 0 MS Shell Dlg");
  EXPECT_EQ(describe::Controls(*dialog),
            (std::vector<std::string>{"-1 (ffff) #130 编码: style 50020000 ex 0 help 0 at 5,0,60,12",
                                      "401 (191) #133 - style 50200003 ex 0 help 0 at 63,0,150,48"}));

  // Each image of the icon group has the size, depth and byte count the group gives it.
  const auto group = pe::ParseIconGroup(pe::LocateResourceForSystem(notepad, pe::rt::kGroupIcon, 0x300)->data);
  ASSERT_TRUE(group);
  ASSERT_EQ(group->size(), 10u);
  EXPECT_EQ(group->front().width, 256);
  for (const pe::IconGroupEntry& entry : *group) {
    const pe::Bytes data = pe::LocateResourceForSystem(notepad, pe::rt::kIcon, entry.iconId)->data;
    const auto header = pe::ParseIconImage(data);
    ASSERT_TRUE(header);
    EXPECT_EQ(
        std::tuple(header->width, header->png ? header->height : header->height / 2, header->bitCount, data.size()),
        std::tuple(entry.width, entry.height, entry.bitCount, std::size_t{entry.bytesInResource}));
  }

  // kernel32 carries 36 translated version blocks; a Chinese system reads the 0804 one.
  const pe::PeImage kernel32 = LoadWine("kernel32.dll");
  const auto info = pe::ReadVersionInfo(kernel32);
  ASSERT_TRUE(info && info->translations().size() == 1);
  EXPECT_EQ(std::pair(info->translations()[0].language, info->translations()[0].codePage),
            (std::pair<std::uint16_t, std::uint16_t>(pe::lang::kChinesePrc, 1200)));
  EXPECT_EQ(pe::ProbeFileVersionUtf16(kernel32), u"10.0.18362.1350");
  EXPECT_EQ(pe::ProbeFileVersionUtf16(kernel32, u"040904b0"), u"");
  EXPECT_EQ(info->fixed()->fileVersion, (pe::VersionNumber{10, 0, 18362, 1350}));
}
