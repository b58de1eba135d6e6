#include <windows.h>

#include "launch/ansi_code_page.h"

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
