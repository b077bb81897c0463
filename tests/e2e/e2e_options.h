// What the end-to-end driver was asked to do on its command line.
#ifndef TESTS_E2E_E2E_OPTIONS_H
#define TESTS_E2E_E2E_OPTIONS_H

#include <string>

struct E2eOptions {
  std::string updater;  // the updater as built, for the scenario table
  std::string packed;   // --packed: an updater the packer made ...
  std::string expect;   // --expect: ... and the folder of the files it carries
  std::string demo;     // --demo: an updater to run for a person to see
  std::string folder;   // --folder: the install folder the demo registers
  std::string shots;    // --shots: where the demo saves a picture of each box
  bool watch = false;   // --watch: the person answers; the driver only looks
};

E2eOptions& Options();

// The demo run: registers `folder`, starts `demo`, reports and pictures each
// box (and answers Yes and OK unless watching), prints the exit code.
int RunDemo(const E2eOptions& options);

#endif  // TESTS_E2E_E2E_OPTIONS_H
