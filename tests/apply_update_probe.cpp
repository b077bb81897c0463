// Runs ApplyUpdate on the package appended to this program's own file, with
// the install folder given as the one argument, and exits with the result.
// Tests on Windows copy it, pad it to PACKAGE_OFFSET and append a fixture: a
// process reads its package from its own executable only.
#include "package/package.h"

int main(int argc, char** argv) {
  // 1 is no code that ApplyUpdate returns.
  if (argc != 2) return 1;
  return ApplyUpdate(argv[1]);
}
