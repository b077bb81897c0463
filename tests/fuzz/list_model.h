// What the uninstall list must hold after an update, worked out on strings
// without the product's code, so that the fuzzers can compare the file with it.
#ifndef TESTS_FUZZ_LIST_MODEL_H
#define TESTS_FUZZ_LIST_MODEL_H

#include <stddef.h>

#include <string>
#include <vector>

// The rewritten list for `old` (the file's bytes) and `names`, or false when
// the list must be refused and left as it is.
inline bool ModelListUpdate(const std::string& old, const std::vector<std::string>& names, size_t capacity,
                            std::string* updated) {
  if (old.size() > capacity) return false;
  // The closing NUL is not text; a file without one is text throughout.
  std::string text;
  size_t added = 0;
  for (const std::string& name : names) added += name.size() + 2;
  text.reserve(old.size() + added + 1);
  text = old;
  if (!text.empty() && text.back() == '\0') text.pop_back();
  // A NUL inside the text would hide what follows it.
  if (text.find('\0') != std::string::npos) return false;
  if (text.size() + 1 > capacity) return false;
  for (const std::string& name : names) {
    // Present anywhere in the text, as a substring; an empty name always is.
    if (text.find(name) != std::string::npos) continue;
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += name;
    text += '\n';
    if (text.size() + 1 > capacity) return false;
  }
  text += '\0';
  updated->swap(text);
  return true;
}

#endif  // TESTS_FUZZ_LIST_MODEL_H
