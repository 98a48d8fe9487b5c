#include "imports.hpp"

#include <algorithm>

namespace pe {
namespace {

// Bounds on the work a damaged table can cause: real names are far shorter, and real images
// import far fewer functions.
constexpr std::size_t kMaxNameLength = 4096;
constexpr std::size_t kMaxFunctions = 65536;

// The bytes at `rva`, at most enough for a hint and a name of the longest length accepted.
std::optional<Bytes> NameBytes(const PeImage& image, std::uint32_t rva) {
  const auto bytes = image.BytesFrom(rva);
  if (!bytes) return std::nullopt;
  return bytes->first(std::min(bytes->size(), kMaxNameLength + 3));
}

std::optional<std::string> ReadAsciiz(const PeImage& image, std::uint32_t rva) {
  const auto bytes = NameBytes(image, rva);
  if (!bytes) return std::nullopt;
  ByteCursor cursor(*bytes);
  std::string text = cursor.Asciiz();
  if (!cursor.ok()) return std::nullopt;
  return text;
}

std::vector<ImportedFunction> ReadThunks(const PeImage& image, std::uint32_t rva, std::size_t& budget) {
  std::vector<ImportedFunction> functions;
  const bool wide = image.format() == Format::Pe32Plus;
  const auto bytes = image.BytesFrom(rva);
  if (!bytes) return functions;
  ByteCursor cursor(*bytes);
  for (;;) {
    const std::uint64_t thunk = wide ? cursor.U64() : cursor.U32();
    if (!cursor.ok() || thunk == 0 || budget == 0) return functions;
    --budget;
    const std::uint64_t ordinalFlag = wide ? 0x8000000000000000u : 0x80000000u;
    ImportedFunction function;
    if ((thunk & ordinalFlag) != 0) {
      function.ordinal = static_cast<std::uint16_t>(thunk);
    } else {
      const auto hintAndName =
          thunk <= 0xFFFFFFFFu ? NameBytes(image, static_cast<std::uint32_t>(thunk)) : std::nullopt;
      if (!hintAndName) return functions;
      ByteCursor entry(*hintAndName);
      function.hint = entry.U16();
      function.name = entry.Asciiz();
      if (!entry.ok()) return functions;
    }
    functions.push_back(std::move(function));
  }
}

}  // namespace

std::vector<ImportedDll> ReadImports(const PeImage& image) {
  std::vector<ImportedDll> dlls;
  const DataDirectory directory = image.directory(directory::kImport);
  if (directory.rva == 0) return dlls;
  const auto bytes = image.BytesFrom(directory.rva);
  if (!bytes) return dlls;
  ByteCursor cursor(*bytes);
  std::size_t budget = kMaxFunctions;
  for (;;) {
    const std::uint32_t lookupTable = cursor.U32();
    cursor.Skip(8);  // time stamp, forwarder chain
    const std::uint32_t nameRva = cursor.U32();
    const std::uint32_t addressTable = cursor.U32();
    if (!cursor.ok() || (lookupTable == 0 && nameRva == 0 && addressTable == 0) || budget == 0) return dlls;
    --budget;
    auto name = ReadAsciiz(image, nameRva);
    if (!name) return dlls;
    // The lookup table keeps the names when the address table has been bound.
    dlls.push_back({std::move(*name), ReadThunks(image, lookupTable != 0 ? lookupTable : addressTable, budget)});
  }
}

std::vector<std::string> ImportedDllNames(const PeImage& image) {
  std::vector<std::string> names;
  for (ImportedDll& dll : ReadImports(image)) names.push_back(std::move(dll.name));
  return names;
}

}  // namespace pe
