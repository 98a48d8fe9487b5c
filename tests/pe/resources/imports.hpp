// The import directory: the DLLs a PE image loads and what it takes from each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe_image.hpp"

namespace pe {

struct ImportedFunction {
  std::string name;                      // empty when imported by ordinal
  std::uint16_t hint = 0;                // with a name: the index it was linked against
  std::optional<std::uint16_t> ordinal;  // without a name
};

struct ImportedDll {
  std::string name;
  std::vector<ImportedFunction> functions;
};

// The import descriptors up to the terminating empty one, in file order. A descriptor whose
// DLL name cannot be read ends the list; a thunk that cannot be read ends its DLL's functions.
std::vector<ImportedDll> ReadImports(const PeImage& image);

std::vector<std::string> ImportedDllNames(const PeImage& image);

}  // namespace pe
