// What winedump, an independent PE dumper, reports about a file: the reference the reader's
// results are held against.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace winedump {

struct Resource {
  std::string type;  // as winedump labels it: "VERSION", L"TYPELIB", ...
  std::string name;  // "0001", L"README"
  std::uint16_t language = 0;
  std::vector<std::uint8_t> bytes;                  // from the hex dump
  std::map<std::uint16_t, std::u16string> strings;  // RT_STRING, which winedump decodes
  bool decoded = false;                             // shown as text, not as bytes
};

struct Headers {
  std::uint16_t machine = 0;
  std::uint16_t sectionCount = 0;
  std::uint16_t magic = 0;
  std::uint16_t subsystem = 0;
  std::uint64_t imageBase = 0;
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> directories;  // name: rva, size
};

struct Import {
  std::string dll;
  std::vector<std::pair<std::uint32_t, std::string>> functions;  // hint and name, or ordinal and "<by ordinal>"
  friend bool operator==(const Import&, const Import&) = default;
};

std::vector<Resource> Resources(const std::string& file);
Headers ReadHeaders(const std::string& file);
std::vector<Import> Imports(const std::string& file);

}  // namespace winedump
