#include "winedump.hpp"

#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace winedump {
namespace {

std::string Run(const std::string& arguments) {
  const std::string command = std::string(WINEDUMP) + " " + arguments + " 2>/dev/null";
  const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string output;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) output.append(buffer, n);
  return output;
}

// Strings as winedump writes them: \x with up to four hex digits, \n, \r, \t, else the
// escaped character itself.
std::u16string Unescape(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      c = text[++i];
      if (c == 'x') {
        std::size_t digits = 0;
        while (digits < 4 && i + 1 + digits < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1 + digits])))
          ++digits;
        out.push_back(static_cast<char16_t>(std::stoul(text.substr(i + 1, digits), nullptr, 16)));
        i += digits;
        continue;
      }
      c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    out.push_back(static_cast<unsigned char>(c));
  }
  return out;
}

// "    00000010: 0f 00 00 00 00 00 00 00-09 00 4d 00 53 00 20 00  ..........M.S. ." (parsed by
// column: a regular expression per line is too slow for dumps of megabytes).
bool ReadHexLine(const std::string& line, std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kFirstByte = 14;
  if (line.size() < kFirstByte + 2 || line.compare(0, 4, "    ") != 0 || line[12] != ':') return false;
  const auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  for (std::size_t i = 0, column = kFirstByte; i < 16 && column + 2 <= line.size(); ++i, column += 3) {
    const int high = nibble(line[column]);
    const int low = nibble(line[column + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

}  // namespace

std::vector<Resource> Resources(const std::string& file) {
  static const std::regex header(R"(^  (\S+) Name=(\S+) Language=([0-9a-f]{4}):$)");
  static const std::regex stringLine(R"re(^    ([0-9a-f]{4}) "(.*)"$)re");
  std::vector<Resource> resources;
  std::istringstream lines(Run("dump -j resource '" + file + "'"));
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, 4, "    ") != 0) {
      if (std::regex_match(line, match, header))
        resources.push_back(
            {match[1], match[2], static_cast<std::uint16_t>(std::stoul(match[3], nullptr, 16)), {}, {}, false});
    } else if (resources.empty() || ReadHexLine(line, resources.back().bytes)) {
      continue;
    } else if (std::regex_match(line, match, stringLine)) {
      resources.back().strings[static_cast<std::uint16_t>(std::stoul(match[1], nullptr, 16))] = Unescape(match[2]);
      resources.back().decoded = true;
    } else {
      resources.back().decoded = true;  // message tables
    }
  }
  return resources;
}

Headers ReadHeaders(const std::string& file) {
  const std::string text = Run("dump '" + file + "'");
  // The number after `label`, e.g. "  Magic   0x20B" or "  IMPORT   rva: 0x5000   size: 0x31c".
  const auto field = [&text](const std::string& label, int base, const std::string& after = "") {
    const std::size_t line = text.find("\n  " + label);
    const std::size_t at =
        line == std::string::npos ? line : text.find_first_of("0123456789", text.find(after, line) + after.size());
    return at == std::string::npos ? 0 : std::stoull(text.substr(at), nullptr, base);
  };
  Headers headers{static_cast<std::uint16_t>(field("Machine:", 16)),
                  static_cast<std::uint16_t>(field("Number of Sections:", 10)),
                  static_cast<std::uint16_t>(field("Magic", 16)),
                  static_cast<std::uint16_t>(field("Subsystem", 16)),
                  field("image base", 16),
                  {}};
  for (const std::string name : {"IMPORT", "RESOURCE"})
    headers.directories[name] = {field(name + " ", 16, "rva:"), field(name + " ", 16, "size:")};
  return headers;
}

std::vector<Import> Imports(const std::string& file) {
  static const std::regex dll(R"(^  offset [0-9a-f]+ (\S+)$)");
  static const std::regex function(R"(^  [0-9a-f]{8}\s+(\d+)\s+(.+)$)");
  std::vector<Import> imports;
  std::istringstream lines(Run("dump -j import '" + file + "'"));
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, match, dll))
      imports.push_back({match[1], {}});
    else if (!imports.empty() && std::regex_match(line, match, function))
      imports.back().functions.emplace_back(std::stoul(match[1]), match[2]);
  }
  return imports;
}

}  // namespace winedump
