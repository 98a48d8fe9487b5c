#include <windows.h>

#include "text/text.hpp"

namespace text {

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace text
