#include "tools/pack_layout.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/entry_name.h"
#include "package/package.h"

namespace packer {

namespace {

const size_t COPY_CHUNK = 1 << 20;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ErrnoText(int code) { return strerror(code); }

// Converts with iconv; false on any invalid, incomplete or unmappable input.
bool Convert(const char* to, const char* from, const std::string& input, std::string* output) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(input.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(input.data());
  size_t in_left = input.size();
  char* out = &result[0];
  size_t out_left = result.size();
  bool ok = iconv(converter, &in, &in_left, &out, &out_left) != static_cast<size_t>(-1) && in_left == 0 &&
            iconv(converter, nullptr, nullptr, &out, &out_left) != static_cast<size_t>(-1);
  iconv_close(converter);
  if (!ok) return false;
  result.resize(result.size() - out_left);
  *output = result;
  return true;
}

void PutU32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

std::string FaultText(EntryNameFault fault) {
  switch (fault) {
    case ENTRY_NAME_OK:
      return "";
    case ENTRY_NAME_NO_NUL:
      return "has no NUL within its 16 bytes";
    case ENTRY_NAME_EMPTY:
      return "is empty";
    case ENTRY_NAME_ROOTED:
      return "starts with a backslash or a slash";
    case ENTRY_NAME_COLON:
      return "holds a colon";
    case ENTRY_NAME_EMPTY_PART:
      return "has an empty part (two separators in a row, or one at the end)";
    case ENTRY_NAME_DOTS_ONLY_PART:
      return "has a part made only of dots and spaces";
    case ENTRY_NAME_DEVICE:
      return "names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
  }
  return "is refused";
}

// Closes the descriptors it holds when it goes out of scope.
struct OpenFiles {
  std::vector<int> fds;
  ~OpenFiles() {
    for (int fd : fds) close(fd);
  }
};

// Opens a regular file for reading and reports its size.
bool OpenInput(const std::string& path, OpenFiles* files, int* fd, struct stat* info, std::string* error) {
  *fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (*fd < 0) {
    *error = "cannot read " + path + ": " + ErrnoText(errno);
    return false;
  }
  files->fds.push_back(*fd);
  if (fstat(*fd, info) != 0) {
    *error = "cannot read " + path + ": " + ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(info->st_mode)) {
    *error = "cannot read " + path + ": not a regular file";
    return false;
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Copies exactly `size` bytes of `in` to `out` in chunks, and insists that the
// input ends there: a file that changed since it was measured is an error.
bool CopyExactly(int in, const std::string& in_path, uint64_t size, int out, const std::string& out_path,
                 std::vector<char>* buffer, std::string* error) {
  uint64_t left = size;
  while (left > 0) {
    size_t want = left < buffer->size() ? static_cast<size_t>(left) : buffer->size();
    ssize_t got = read(in, buffer->data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = "cannot read " + in_path + ": " + ErrnoText(errno);
      return false;
    }
    if (got == 0) {
      *error = "cannot read " + in_path + ": it became shorter while it was packed";
      return false;
    }
    if (!WriteAll(out, buffer->data(), static_cast<size_t>(got))) {
      *error = "cannot write " + out_path + ": " + ErrnoText(errno);
      return false;
    }
    left -= static_cast<uint64_t>(got);
  }
  char probe;
  ssize_t extra;
  do {
    extra = read(in, &probe, 1);
  } while (extra < 0 && errno == EINTR);
  if (extra != 0) {
    *error = "cannot read " + in_path + ": it grew while it was packed";
    return false;
  }
  return true;
}

// The temporary output, removed if the packer is interrupted.
char g_temporary_path[4096];
volatile sig_atomic_t g_temporary_active = 0;

void RemoveTemporaryAndDie(int signal_number) {
  if (g_temporary_active) unlink(g_temporary_path);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

const int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string* cp932) {
  std::string converted;
  std::string back;
  if (!Convert("CP932", "UTF-8", utf8, &converted)) return false;
  if (!Convert("UTF-8", "CP932", converted, &back) || back != utf8) return false;
  *cp932 = converted;
  return true;
}

std::string Cp932ToDisplay(const std::string& cp932) {
  std::string utf8;
  if (Convert("UTF-8", "CP932", cp932, &utf8)) return utf8;
  static const char HEX[] = "0123456789abcdef";
  std::string shown;
  for (unsigned char c : cp932) {
    if (c >= 0x20 && c < 0x7F) {
      shown.push_back(static_cast<char>(c));
    } else {
      shown += "\\x";
      shown.push_back(HEX[c >> 4]);
      shown.push_back(HEX[c & 15]);
    }
  }
  return shown;
}

std::string NameProblem(const std::string& cp932) {
  if (cp932.empty()) return "is empty";
  if (cp932.size() > 15) {
    return "is " + std::to_string(cp932.size()) + " bytes in code page 932; a name holds 1 to 15 bytes";
  }
  char field[16] = {};
  memcpy(field, cp932.data(), cp932.size());
  // A NUL inside the name would cut it short in the field.
  if (memchr(cp932.data(), '\0', cp932.size()) != nullptr) return "holds a NUL byte";
  return FaultText(CheckEntryName(field));
}

EntryArgument ParseEntryArgument(const std::string& argument) {
  EntryArgument given;
  size_t equals = argument.find('=');
  if (equals != std::string::npos) {
    given.name = argument.substr(0, equals);
    given.path = argument.substr(equals + 1);
  } else {
    size_t slash = argument.rfind('/');
    given.name = slash == std::string::npos ? argument : argument.substr(slash + 1);
    given.path = argument;
  }
  return given;
}

bool PlanLayout(std::vector<PlannedEntry>* entries, std::string* error) {
  if (entries->size() > MAX_PACKAGE_ENTRIES) {
    *error = std::to_string(entries->size()) + " entries given; a package holds at most " +
             std::to_string(MAX_PACKAGE_ENTRIES);
    return false;
  }
  uint64_t data_start = DIRECTORY_OFFSET + sizeof(PackFileEntry) * entries->size();
  uint64_t offset = 0;
  for (PlannedEntry& entry : *entries) {
    std::string shown = Quoted(Cp932ToDisplay(entry.name));
    if (data_start + offset >= ENTRY_POSITION_LIMIT) {
      *error = "entry " + shown + " would start at file offset " + std::to_string(data_start + offset) +
               "; the updater reaches only offsets below " + std::to_string(ENTRY_POSITION_LIMIT);
      return false;
    }
    if (entry.size > ENTRY_SIZE_LIMIT) {
      *error = "entry " + shown + " is " + std::to_string(entry.size) + " bytes; an entry holds at most " +
               std::to_string(ENTRY_SIZE_LIMIT);
      return false;
    }
    entry.offset = static_cast<uint32_t>(offset);
    offset += entry.size;
  }
  return true;
}

std::string BuildDirectory(const std::vector<PlannedEntry>& entries) {
  std::string bytes(PACKAGE_SIGNATURE, sizeof(PackFileHeader::signature));
  PutU32(&bytes, static_cast<uint32_t>(entries.size()));
  for (const PlannedEntry& entry : entries) {
    std::string name = entry.name;
    name.resize(sizeof(PackFileEntry::name), '\0');
    bytes += name;
    PutU32(&bytes, entry.offset);
    PutU32(&bytes, static_cast<uint32_t>(entry.size));
    bytes.append(sizeof(PackFileEntry::reserved), '\0');
  }
  return bytes;
}

bool Pack(const PackRequest& request, std::string* error) {
  if (request.entries.size() > MAX_PACKAGE_ENTRIES) {
    *error = std::to_string(request.entries.size()) + " entries given; a package holds at most " +
             std::to_string(MAX_PACKAGE_ENTRIES);
    return false;
  }
  // Every name first: a wrong name is the commonest mistake and needs no I/O.
  std::vector<PlannedEntry> planned;
  for (const EntryArgument& given : request.entries) {
    PlannedEntry entry;
    if (!Utf8ToCp932(given.name, &entry.name)) {
      *error = "entry name " + Quoted(given.name) + " cannot be converted to code page 932";
      return false;
    }
    std::string problem = NameProblem(entry.name);
    if (!problem.empty()) {
      *error = "entry name " + Quoted(given.name) + " " + problem + "; the updater would refuse it";
      return false;
    }
    entry.size = 0;
    entry.offset = 0;
    planned.push_back(entry);
  }

  OpenFiles files;
  std::vector<struct stat> identities;
  int program_fd;
  struct stat info;
  if (!OpenInput(request.program, &files, &program_fd, &info, error)) return false;
  identities.push_back(info);
  uint64_t program_size = static_cast<uint64_t>(info.st_size);
  if (program_size > PACKAGE_OFFSET) {
    *error = "the updater program " + request.program + " is " + std::to_string(program_size) +
             " bytes; it must fit in " + std::to_string(PACKAGE_OFFSET) + " bytes, where the package starts";
    return false;
  }
  std::vector<int> entry_fds;
  for (size_t i = 0; i < request.entries.size(); ++i) {
    int fd;
    if (!OpenInput(request.entries[i].path, &files, &fd, &info, error)) return false;
    identities.push_back(info);
    entry_fds.push_back(fd);
    planned[i].size = static_cast<uint64_t>(info.st_size);
  }
  if (!PlanLayout(&planned, error)) return false;

  struct stat output_info;
  if (stat(request.output.c_str(), &output_info) == 0) {
    if (S_ISDIR(output_info.st_mode)) {
      *error = "the output " + request.output + " is a folder";
      return false;
    }
    for (size_t i = 0; i < identities.size(); ++i) {
      if (identities[i].st_dev == output_info.st_dev && identities[i].st_ino == output_info.st_ino) {
        const std::string& input = i == 0 ? request.program : request.entries[i - 1].path;
        *error = "the output " + request.output + " is the same file as the input " + input;
        return false;
      }
    }
  }

  size_t slash = request.output.rfind('/');
  std::string folder = slash == std::string::npos ? "." : request.output.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? request.output : request.output.substr(slash + 1);
  std::string temporary = folder + (slash == std::string::npos ? "/." : ".") + base + ".XXXXXX";
  if (temporary.size() >= sizeof(g_temporary_path)) {
    *error = "the output path " + request.output + " is too long";
    return false;
  }
  memcpy(g_temporary_path, temporary.c_str(), temporary.size() + 1);
  struct sigaction cleanup = {};
  struct sigaction previous[3];
  cleanup.sa_handler = RemoveTemporaryAndDie;
  for (int i = 0; i < 3; ++i) sigaction(CLEANUP_SIGNALS[i], &cleanup, &previous[i]);
  int out = mkstemp(g_temporary_path);
  if (out < 0) {
    *error = "cannot create a temporary file in " + folder + ": " + ErrnoText(errno);
    for (int i = 0; i < 3; ++i) sigaction(CLEANUP_SIGNALS[i], &previous[i], nullptr);
    return false;
  }
  g_temporary_active = 1;

  const std::string& out_path = request.output;
  std::string cannot_write = "cannot write " + out_path + ": ";
  std::vector<char> buffer(COPY_CHUNK);
  bool ok = CopyExactly(program_fd, request.program, program_size, out, out_path, &buffer, error);
  if (ok) {
    std::string padding(PACKAGE_OFFSET - program_size, '\0');
    std::string directory = BuildDirectory(planned);
    ok = WriteAll(out, padding.data(), padding.size()) && WriteAll(out, directory.data(), directory.size());
    if (!ok) *error = cannot_write + ErrnoText(errno);
  }
  for (size_t i = 0; ok && i < planned.size(); ++i) {
    ok = CopyExactly(entry_fds[i], request.entries[i].path, planned[i].size, out, out_path, &buffer, error);
  }
  if (ok) {
    // mkstemp made the file private; the output gets the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    ok = fchmod(out, 0666 & ~mask) == 0 && fsync(out) == 0;
    if (!ok) *error = cannot_write + ErrnoText(errno);
  }
  if (close(out) != 0 && ok) {
    ok = false;
    *error = cannot_write + ErrnoText(errno);
  }
  if (ok && rename(g_temporary_path, out_path.c_str()) != 0) {
    ok = false;
    *error = cannot_write + ErrnoText(errno);
  }
  if (!ok) unlink(g_temporary_path);
  g_temporary_active = 0;
  for (int i = 0; i < 3; ++i) sigaction(CLEANUP_SIGNALS[i], &previous[i], nullptr);
  return ok;
}

bool ReadListing(const std::string& path, Listing* listing, std::string* error) {
  OpenFiles files;
  int fd;
  struct stat info;
  if (!OpenInput(path, &files, &fd, &info, error)) return false;
  listing->file_size = static_cast<uint64_t>(info.st_size);
  listing->entries.clear();
  unsigned char header[sizeof(PackFileHeader)];
  if (pread(fd, header, sizeof(header), PACKAGE_OFFSET) != static_cast<ssize_t>(sizeof(header))) {
    *error = path + " is " + std::to_string(listing->file_size) +
             " bytes, too short for a package header at offset " + std::to_string(PACKAGE_OFFSET);
    return false;
  }
  listing->signature_matches = memcmp(header, PACKAGE_SIGNATURE, sizeof(PackFileHeader::signature)) == 0;
  listing->entry_count = GetU32(header + 12);
  if (listing->entry_count > MAX_PACKAGE_ENTRIES) {
    *error = path + " announces " + std::to_string(listing->entry_count) +
             " entries; the updater refuses more than " + std::to_string(MAX_PACKAGE_ENTRIES);
    return false;
  }
  size_t directory_size = sizeof(PackFileEntry) * listing->entry_count;
  std::vector<unsigned char> directory(directory_size + 1);
  if (pread(fd, directory.data(), directory_size, DIRECTORY_OFFSET) != static_cast<ssize_t>(directory_size)) {
    *error = path + ": the directory of " + std::to_string(listing->entry_count) +
             " entries runs past the end of the file";
    return false;
  }
  for (uint32_t i = 0; i < listing->entry_count; ++i) {
    const unsigned char* record = directory.data() + sizeof(PackFileEntry) * i;
    ListedEntry entry;
    memcpy(entry.name, record, sizeof(entry.name));
    entry.offset = GetU32(record + 16);
    entry.size = GetU32(record + 20);
    listing->entries.push_back(entry);
  }
  return true;
}

std::string FieldToDisplay(const char field[16]) {
  size_t length = 0;
  while (length < 16 && field[length] != '\0') ++length;
  return Cp932ToDisplay(std::string(field, length));
}

std::vector<std::string> CheckPackage(const std::string& path) {
  std::vector<std::string> problems;
  Listing listing;
  std::string error;
  if (!ReadListing(path, &listing, &error)) {
    problems.push_back(error);
    return problems;
  }
  if (!listing.signature_matches) {
    problems.push_back(path + ": no " + Quoted(PACKAGE_SIGNATURE) + " signature at offset " +
                       std::to_string(PACKAGE_OFFSET));
  }
  uint64_t data_start = DIRECTORY_OFFSET + sizeof(PackFileEntry) * uint64_t{listing.entry_count};
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    const ListedEntry& entry = listing.entries[i];
    std::string which = path + ": entry " + std::to_string(i) + " " + Quoted(FieldToDisplay(entry.name));
    std::string fault = FaultText(CheckEntryName(entry.name));
    if (!fault.empty()) problems.push_back(which + ": its name " + fault);
    uint64_t start = data_start + entry.offset;
    if (start >= ENTRY_POSITION_LIMIT) {
      problems.push_back(which + " starts at file offset " + std::to_string(start) +
                         "; the updater reaches only offsets below " + std::to_string(ENTRY_POSITION_LIMIT));
    } else if (start + entry.size > listing.file_size) {
      problems.push_back(which + " ends at file offset " + std::to_string(start + entry.size) +
                         ", past the end of the file (" + std::to_string(listing.file_size) + " bytes)");
    }
  }
  return problems;
}

}  // namespace packer
