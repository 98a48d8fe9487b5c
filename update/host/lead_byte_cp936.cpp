#include "text/text.hpp"

namespace text {

// Code page 936 (GBK): bytes 0x81 to 0xFE begin a double-byte character.
bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace text
