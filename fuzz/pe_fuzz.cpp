// The PE reader over arbitrary bytes: every entry point the tests and the tools use.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "exercise_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pe::ExerciseEverything(std::vector<std::uint8_t>(data, data + size));
  return 0;
}
