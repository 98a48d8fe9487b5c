// Every entry point of the PE reader over one buffer, as the updater's tests and tools use
// them. Shared by the robustness tests and the fuzz target, so both cover the same calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "dialog_template.hpp"
#include "file_version_probe.hpp"
#include "icon_group.hpp"
#include "imports.hpp"
#include "string_table.hpp"
#include "utf16.hpp"

namespace pe {

// Parses resource data by its type; returns how many values came out, so nothing is optimised away.
inline std::size_t ParseResourceData(std::uint16_t type, Bytes data) {
  std::size_t values = 0;
  if (type == rt::kVersion) {
    if (const auto info = VersionInfo::Parse(data)) {
      values += info->fixed().has_value() + info->stringTables().size() + info->translations().size();
      values += info->Query(u"\\StringFileInfo\\080404b0\\FileVersion") != nullptr;
    }
  } else if (type == rt::kDialog) {
    if (const auto dialog = ParseDialogTemplate(data))
      values += dialog->controls.size() + ToUtf8(dialog->caption).size();
  } else if (type == rt::kString) {
    if (const auto block = ParseStringBlock(data)) values += block->size();
  } else if (type == rt::kGroupIcon) {
    if (const auto group = ParseIconGroup(data)) values += group->size();
  } else if (type == rt::kIcon) {
    values += ParseIconImage(data).has_value();
  }
  return values;
}

inline std::size_t ExerciseEverything(std::vector<std::uint8_t> bytes) {
  const auto image = PeImage::Parse(std::move(bytes));
  if (!image) return 0;
  std::size_t values = image->sections().size();
  for (const Section& section : image->sections()) values += image->RvaToOffset(section.virtualAddress).has_value();
  for (const ImportedDll& dll : ReadImports(*image)) values += dll.functions.size();
  for (const Resource& resource : ListResources(*image))
    if (resource.type.isOrdinal()) values += ParseResourceData(resource.type.ordinal(), resource.data);
  values += FindStringResourceForSystem(*image, 101).has_value();
  values += ProbeFileVersionUtf16(*image).size();
  return values;
}

}  // namespace pe
