// packer: the maker's tool that turns the updater program and the files of an
// update into the shipped updater, and that lists and checks a packed updater.
//
//   packer pack -o OUT UPDATER.exe [NAME=]PATH...
//   packer list FILE
//   packer check FILE
//
// Exit status: 0 on success, 1 when the work is refused or fails, 2 for a
// command line that cannot be understood.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/pack_layout.h"

namespace {

const char USAGE[] =
    "usage: packer pack -o OUT UPDATER.exe [NAME=]PATH...\n"
    "       packer list FILE\n"
    "       packer check FILE\n"
    "\n"
    "pack   writes OUT: UPDATER.exe filled with zero bytes up to offset 65536,\n"
    "       then the package header, the directory and the entries' bytes in\n"
    "       the order given. A plain PATH is stored under its base name;\n"
    "       NAME=PATH stores it as NAME (split at the first '=', so a path\n"
    "       holding '=' needs a NAME). Names are given in UTF-8 and stored in\n"
    "       code page 932: 1 to 15 bytes, not starting with a separator, no\n"
    "       colon, no part made only of dots and spaces; a backslash or slash\n"
    "       inside names a file in a subfolder of the install folder. At most\n"
    "       16 entries. '--' ends the options.\n"
    "list   prints each entry's offset from the data area, size and name.\n"
    "check  verifies that FILE holds a package the updater can install.\n";

int Usage(const char* problem) {
  if (problem != nullptr) fprintf(stderr, "packer: %s\n", problem);
  fputs(USAGE, stderr);
  return 2;
}

int Fail(const std::string& problem) {
  fprintf(stderr, "packer: %s\n", problem.c_str());
  return 1;
}

int RunPack(int argc, char** argv) {
  packer::PackRequest request;
  std::vector<std::string> operands;
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    std::string argument = argv[i];
    if (!options_done && argument == "--") {
      options_done = true;
    } else if (!options_done && (argument == "-o" || argument == "--output")) {
      if (i + 1 == argc) return Usage("-o needs the output file");
      request.output = argv[++i];
    } else if (!options_done && argument.size() > 1 && argument[0] == '-') {
      return Usage(("unknown option " + argument).c_str());
    } else {
      operands.push_back(argument);
    }
  }
  if (request.output.empty()) return Usage("no output file given (-o OUT)");
  if (operands.empty()) return Usage("no updater program given");
  request.program = operands[0];
  for (size_t i = 1; i < operands.size(); ++i) request.entries.push_back(packer::ParseEntryArgument(operands[i]));
  std::string error;
  if (!packer::Pack(request, &error)) return Fail(error);
  return 0;
}

int RunList(const char* path) {
  packer::Listing listing;
  std::string error;
  if (!packer::ReadListing(path, &listing, &error)) return Fail(error);
  printf("%u entries, data area at file offset %u\n", listing.entry_count,
         packer::DIRECTORY_OFFSET + 32 * listing.entry_count);
  printf("%10s %10s  %s\n", "offset", "size", "name");
  for (const packer::ListedEntry& entry : listing.entries) {
    printf("%10u %10u  %s\n", entry.offset, entry.size, packer::FieldToDisplay(entry.name).c_str());
  }
  return 0;
}

int RunCheck(const char* path) {
  std::vector<std::string> problems = packer::CheckPackage(path);
  for (const std::string& problem : problems) fprintf(stderr, "packer: %s\n", problem.c_str());
  if (!problems.empty()) return 1;
  packer::Listing listing;
  std::string error;
  packer::ReadListing(path, &listing, &error);
  printf("%s: a package of %u entries that the updater can install\n", path, listing.entry_count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command given");
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(USAGE, stdout);
    return 0;
  }
  if (command == "pack") return RunPack(argc - 2, argv + 2);
  if (command == "list" || command == "check") {
    if (argc != 3) return Usage((command + " takes exactly one FILE").c_str());
    return command == "list" ? RunList(argv[2]) : RunCheck(argv[2]);
  }
  return Usage(("unknown command " + command).c_str());
}
