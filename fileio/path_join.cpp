#include "fileio/path_join.h"

#include <string.h>

bool JoinPath(char* out, size_t capacity, const char* first, const char* second) {
  size_t first_length = strlen(first);
  size_t second_length = strlen(second);
  // first + '\' + second + NUL, compared without overflow.
  if (capacity == 0 || first_length >= capacity || second_length >= capacity - first_length - 1) {
    if (capacity != 0) out[0] = '\0';
    return false;
  }
  memmove(out, first, first_length);
  out[first_length] = '\\';
  memcpy(out + first_length + 1, second, second_length + 1);
  return true;
}
