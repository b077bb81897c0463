// Joining path parts with one backslash, never truncating.
#ifndef FILEIO_PATH_JOIN_H
#define FILEIO_PATH_JOIN_H

#include <stddef.h>

// Writes `first`, one backslash and `second`, NUL-terminated, into `out`.
// `first` may be `out` itself. When the whole text with its NUL does not fit
// in `capacity` bytes, writes an empty string and returns false.
bool JoinPath(char* out, size_t capacity, const char* first, const char* second);

#endif  // FILEIO_PATH_JOIN_H
