// The end-to-end driver's entry point. Without options of its own it runs the
// scenario table against the updater named on the command line; --packed runs
// the one test of a packer-made updater; --demo runs the demo instead of tests.
//
//   updater_e2e_test UPDATER.exe [gtest options]
//   updater_e2e_test --packed SETUP.exe --expect DIR [gtest options]
//   updater_e2e_test --demo SETUP.exe --folder DIR [--shots DIR] [--watch]
#include <stdio.h>
#include <string.h>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_options.h"

E2eOptions& Options() {
  static E2eOptions options;
  return options;
}

namespace {

// Takes the options this program knows; gtest's and the updater path remain.
bool ParseOwnOptions(int argc, char** argv, E2eOptions* options) {
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    std::string* value = nullptr;
    if (argument == "--packed") value = &options->packed;
    if (argument == "--expect") value = &options->expect;
    if (argument == "--demo") value = &options->demo;
    if (argument == "--folder") value = &options->folder;
    if (argument == "--shots") value = &options->shots;
    if (value) {
      if (i + 1 == argc) {
        fprintf(stderr, "%s needs a value\n", argument.c_str());
        return false;
      }
      *value = argv[++i];
    } else if (argument == "--watch") {
      options->watch = true;
    } else if (argument.compare(0, 2, "--") != 0 && options->updater.empty()) {
      options->updater = argument;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  E2eOptions& options = Options();
  if (!ParseOwnOptions(argc, argv, &options)) return 2;
  if (!options.demo.empty()) {
    if (options.folder.empty()) {
      fprintf(stderr, "--demo needs --folder\n");
      return 2;
    }
    return RunDemo(options);
  }
  // The packer-made updater has a test of its own, run only when it is given.
  std::string filter = testing::GTEST_FLAG(filter);
  if (filter == "*") {
    testing::GTEST_FLAG(filter) = options.packed.empty() ? "-PackedUpdate.*" : "PackedUpdate.*";
  }
  return RUN_ALL_TESTS();
}
