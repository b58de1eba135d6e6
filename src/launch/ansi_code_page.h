#ifndef OSTREL_LAUNCH_ANSI_CODE_PAGE_H
#define OSTREL_LAUNCH_ANSI_CODE_PAGE_H

/// True when `byte` opens a double-byte character in the system's ANSI code
/// page (IsDBCSLeadByte on Windows; the native tests link a code page 932 table).
bool IsAnsiLeadByte(unsigned char byte);

#endif
