#include "ansi936.hpp"

#include <iconv.h>

#include <utility>
#include <vector>

namespace pe {
namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // All of `in` as one piece; false when some of it has no counterpart in the other encoding.
  bool Convert(std::vector<char> in, std::string& out) {
    std::vector<char> buffer(4 * in.size() + 8);
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

  // One character (one or two UTF-16 units); false when code page 936 has no such character.
  bool Convert(std::u16string_view units, std::string& out) {
    std::vector<char> in;
    for (const char16_t unit : units) {
      in.push_back(static_cast<char>(unit & 0xFF));
      in.push_back(static_cast<char>(unit >> 8));
    }
    return Convert(std::move(in), out);
  }

 private:
  iconv_t handle_;
};

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

}  // namespace

std::string ToAnsi936(std::u16string_view text) {
  Converter converter("CP936", "UTF-16LE");
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

std::optional<std::u16string> FromAnsi936(std::string_view text) {
  Converter converter("UTF-16LE", "CP936");
  std::string bytes;
  if (!converter.valid() || !converter.Convert(std::vector<char>(text.begin(), text.end()), bytes)) return std::nullopt;
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
  return out;
}

}  // namespace pe
