#ifndef OSTREL_LAUNCH_PATH_TEXT_H
#define OSTREL_LAUNCH_PATH_TEXT_H

#include <cstddef>

#include "launch/owned_strings.h"

// File system paths as text, in the system's ANSI code page: a "\" that is the
// trail byte of a double-byte character ("表" is 0x95 0x5C in code page 932) is
// never taken for a separator. Pure: the platform resolves paths, these only
// take them apart and put them together.

/// `directory`, "\" and `name` as a heap string; no second "\" after a
/// directory that ends in one (a drive's root, "C:\"). Null when memory runs out.
OwnedString JoinPath(const char* directory, const char* name);

/// Drops the "\" that ends a full path, except where it is the whole of a
/// drive's root ("C:\", which without it would name the drive's current
/// directory). In place.
void TrimFinalBackslash(char* path);

/// True for a path relative to a current directory of its process: neither
/// on a drive ("C:\x", "C:x") nor from a root ("\x", "/x", "\\server\share").
bool IsRelativePath(const char* path);

/// The length of the folder part of a file's path, up to its last separator
/// ("\" or "/"), which is not counted; 0 when there is none.
std::size_t FolderLength(const char* path);

#endif
