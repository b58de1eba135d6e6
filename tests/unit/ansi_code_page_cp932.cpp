// The native build stands in code page 932 (Shift JIS) for the system's ANSI
// code page, the double-byte page whose trail bytes include '|' and '\'.
#include "launch/ansi_code_page.h"

bool IsAnsiLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
