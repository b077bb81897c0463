// The maker's packing step: appends the update package to the updater program.
// The layout logic lives here, apart from the command line, so that tests can
// call it directly.
#ifndef TOOLS_PACK_LAYOUT_H
#define TOOLS_PACK_LAYOUT_H

#include <stdint.h>

#include <string>
#include <vector>

namespace packer {

// The updater positions with a signed 32-bit seek: an entry's first byte must
// lie below this file offset.
const uint64_t ENTRY_POSITION_LIMIT = 0x80000000u;
// An entry's size is stored in 32 bits.
const uint64_t ENTRY_SIZE_LIMIT = 0xFFFFFFFFu;
const uint32_t DIRECTORY_OFFSET = 65536 + 16;

// Converts a UTF-8 name to code page 932. False when the name is not valid
// UTF-8 or has no exact form there (the conversion back must give the same
// text, so that a yen sign never turns silently into a backslash).
bool Utf8ToCp932(const std::string& utf8, std::string* cp932);

// A code page 932 name as UTF-8 for showing; bytes that do not convert are
// shown as \xNN.
std::string Cp932ToDisplay(const std::string& cp932);

// Why a code page 932 name cannot go into a package, or "" when it can: its
// length, then the updater's own test of the 16-byte field.
std::string NameProblem(const std::string& cp932);

// "NAME=PATH" names the entry NAME; a plain PATH takes the file's base name.
// The name is split off at the first '=', so a path that holds '=' needs a name.
struct EntryArgument {
  std::string name;  // UTF-8, as given
  std::string path;
};
EntryArgument ParseEntryArgument(const std::string& argument);

struct PlannedEntry {
  std::string name;  // code page 932
  uint64_t size;
  uint32_t offset;  // from the start of the data area
};

// Lays the entries out back to back in the order given, the first at offset
// 0. False with the problem in *error when there are more than 16 entries, an
// entry is larger than its 32-bit size field allows, or an entry would start
// at ENTRY_POSITION_LIMIT or beyond. `entries` carries names and sizes; the
// offsets are filled in.
bool PlanLayout(std::vector<PlannedEntry>* entries, std::string* error);

// The package header and directory for planned entries, as stored in the file.
std::string BuildDirectory(const std::vector<PlannedEntry>& entries);

struct PackRequest {
  std::string output;
  std::string program;
  std::vector<EntryArgument> entries;
};

// Writes program + zero padding to 65536 + header + directory + entry data to
// request.output, through a temporary file in the output's folder that is
// renamed into place. On failure returns false with the problem in *error,
// and no output or temporary file is left behind.
bool Pack(const PackRequest& request, std::string* error);

// What a packed file's header and directory say, read back from the file.
struct ListedEntry {
  char name[16];  // the field as stored
  uint32_t offset;
  uint32_t size;
};
struct Listing {
  uint64_t file_size;
  bool signature_matches;
  uint32_t entry_count;
  std::vector<ListedEntry> entries;
};

// Reads the header and directory of `path`. False with the problem in *error
// when the file cannot be read, is too short for the header, announces more
// than 16 entries or has its directory cut short.
bool ReadListing(const std::string& path, Listing* listing, std::string* error);

// The name field as shown to the maker: the bytes up to the NUL (or all 16).
std::string FieldToDisplay(const char field[16]);

// Every way in which `path` does not hold the package layout that the updater
// can install; empty when it does.
std::vector<std::string> CheckPackage(const std::string& path);

}  // namespace packer

#endif  // TOOLS_PACK_LAYOUT_H
