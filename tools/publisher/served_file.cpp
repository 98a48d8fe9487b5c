#include "served_file.hpp"

#include <fstream>
#include <iterator>
#include <system_error>

std::optional<std::filesystem::path> ServedFile(const std::filesystem::path& webRoot, std::string_view address) {
  constexpr std::string_view kScheme = "http://";
  if (!address.starts_with(kScheme)) return std::nullopt;
  const std::size_t slash = address.find('/', kScheme.size());
  if (slash == std::string_view::npos) return std::nullopt;
  const std::filesystem::path relative(std::string(address.substr(slash + 1)));
  for (const auto& component : relative)
    if (component == "..") return std::nullopt;
  std::filesystem::path file = webRoot / relative;
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  return file;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::optional<std::string> ReadServedFile(const std::filesystem::path& webRoot, std::string_view address) {
  const auto file = ServedFile(webRoot, address);
  return file ? ReadWholeFile(*file) : std::nullopt;
}
