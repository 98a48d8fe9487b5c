#include "ansi936.hpp"

#include <iconv.h>

#include <array>
#include <vector>

namespace pe {
namespace {

class Converter {
 public:
  Converter() : handle_(iconv_open("CP936", "UTF-16LE")) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // One character (one or two UTF-16 units); false when code page 936 has no such character.
  bool Convert(std::u16string_view units, std::string& out) {
    std::vector<char> in;
    for (const char16_t unit : units) {
      in.push_back(static_cast<char>(unit & 0xFF));
      in.push_back(static_cast<char>(unit >> 8));
    }
    std::array<char, 8> buffer{};
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char* outPointer = buffer.data();
    std::size_t outLeft = buffer.size();
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(handle_, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
      return false;
    out.append(buffer.data(), outPointer);
    return true;
  }

 private:
  iconv_t handle_;
};

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

}  // namespace

std::string ToAnsi936(std::u16string_view text) {
  Converter converter;
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::size_t length = 1;
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) length = 2;
    const bool unpaired = length == 1 && (IsHigh(text[i]) || IsLow(text[i]));
    if (unpaired || !converter.valid() || !converter.Convert(text.substr(i, length), out)) out.push_back('?');
    i += length - 1;
  }
  return out;
}

}  // namespace pe
