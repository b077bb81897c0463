// Host stand-in for the Win32 calls the updater makes, on top of POSIX. It is
// a test vehicle, written from what our code expects of each call: share modes
// among the handles of this process, the read-only attribute as a file without
// write permission (checked here, so that it holds for root too), signed
// 32-bit seeks, named mutexes and registry values kept in memory, and message
// boxes answered from a script. Handle values are never reused, so a call on a
// closed handle fails as it does on Windows.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/standin_controls.h"
#include "platform/win32.h"

namespace {

struct OpenFile {
  int fd;
  DWORD access;
  DWORD share;
  dev_t device;
  ino_t inode;
};

struct RegistryValue {
  DWORD type;
  std::string data;
};

struct Injection {
  standin::Call call;
  unsigned remaining;  // calls of that kind still to pass before it strikes
  DWORD short_count;   // UINT32_MAX: plain failure
  bool fail_after_short;
};

typedef std::pair<dev_t, ino_t> FileId;

std::string OwnExecutablePath();

struct State {
  uintptr_t next_handle = 0x1000;
  std::map<uintptr_t, OpenFile> files;
  std::map<uintptr_t, std::string> mutex_handles;  // handle -> name ("" unnamed)
  std::map<std::string, unsigned> mutex_holders;   // name -> handles open here
  std::vector<std::string> mutexes_elsewhere;
  std::map<std::string, std::map<std::string, RegistryValue>> registry;  // lower-case key path
  std::map<uintptr_t, std::string> open_keys;
  std::map<FileId, DWORD> attributes;  // besides read-only, which lives in the mode bits
  std::vector<Injection> injections;
  unsigned counts[standin::CALL_COUNT_OF_KINDS] = {};
  bool module_name_set = true;
  std::string module_name = OwnExecutablePath();
  std::vector<int> answers;
  size_t next_answer = 0;
  std::vector<standin::MessageBoxRecord> boxes;
  void (*box_hook)(const standin::MessageBoxRecord&, void*) = nullptr;
  void* box_hook_context = nullptr;
};

std::string OwnExecutablePath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  return std::string(self, length > 0 ? static_cast<size_t>(length) : 0);
}

State& state() {
  static State* instance = new State();  // never destroyed: calls may come during exit
  return *instance;
}

thread_local DWORD last_error = 0;

HANDLE NewHandle() { return reinterpret_cast<HANDLE>(state().next_handle += 4); }

uintptr_t Key(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

// Counts the call and says which pending injection, if any, strikes now.
const Injection* Strike(standin::Call call) {
  State& s = state();
  s.counts[call]++;
  for (size_t i = 0; i < s.injections.size(); ++i) {
    Injection& injection = s.injections[i];
    if (injection.call != call) continue;
    if (--injection.remaining == 0) {
      static Injection struck;
      struck = injection;
      s.injections.erase(s.injections.begin() + static_cast<long>(i));
      return &struck;
    }
  }
  return nullptr;
}

std::string HostPath(const char* name) {
  std::string path(name);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string Lower(const char* text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

BOOL Fail(DWORD error) {
  last_error = error;
  return FALSE;
}

bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

// Windows' rule: every holder must share what the newcomer asks for, and the
// newcomer must share what every holder has.
bool ShareConflict(const struct stat& info, DWORD access, DWORD share) {
  for (const auto& entry : state().files) {
    const OpenFile& other = entry.second;
    if (other.device != info.st_dev || other.inode != info.st_ino) continue;
    if ((access & GENERIC_READ) && !(other.share & FILE_SHARE_READ)) return true;
    if ((access & GENERIC_WRITE) && !(other.share & FILE_SHARE_WRITE)) return true;
    if ((other.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
    if ((other.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  }
  return false;
}

OpenFile* FindFile(HANDLE handle) {
  auto found = state().files.find(Key(handle));
  return found == state().files.end() ? nullptr : &found->second;
}

template <typename Transfer>
BOOL TransferBytes(standin::Call call, HANDLE handle, DWORD needed_access, DWORD count, LPDWORD transferred,
                   Transfer transfer) {
  const Injection* injection = Strike(call);
  if (transferred) *transferred = 0;
  OpenFile* file = FindFile(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE);
  if (!(file->access & needed_access)) return Fail(ERROR_ACCESS_DENIED);
  bool fail_at_end = false;
  if (injection) {
    if (injection->short_count == UINT32_MAX) return Fail(ERROR_WRITE_FAULT);
    if (injection->short_count < count) count = injection->short_count;
    fail_at_end = injection->fail_after_short;
  }
  DWORD done = 0;
  while (done < count) {
    ssize_t moved = transfer(file->fd, done, count - done);
    if (moved < 0) {
      if (errno == EINTR) continue;
      if (transferred) *transferred = done;
      return Fail(ErrorFromErrno(errno));
    }
    if (moved == 0) break;  // end of file
    done += static_cast<DWORD>(moved);
  }
  if (transferred) *transferred = done;
  if (fail_at_end) return Fail(ERROR_WRITE_FAULT);
  last_error = 0;
  return TRUE;
}

}  // namespace

extern "C" {

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
  if (Strike(standin::CALL_CREATE_FILE)) {
    last_error = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  if (!name || (disposition != OPEN_EXISTING && disposition != CREATE_ALWAYS)) {
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  std::string path = HostPath(name);
  struct stat info;
  bool exists = stat(path.c_str(), &info) == 0;
  if (!exists && disposition == OPEN_EXISTING) {
    last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  if (exists) {
    if (S_ISDIR(info.st_mode) || ((access & GENERIC_WRITE) && IsReadOnly(info))) {
      last_error = ERROR_ACCESS_DENIED;
      return INVALID_HANDLE_VALUE;
    }
    if (ShareConflict(info, access, share)) {
      last_error = ERROR_SHARING_VIOLATION;
      return INVALID_HANDLE_VALUE;
    }
  }
  int mode = (access & GENERIC_READ) && (access & GENERIC_WRITE) ? O_RDWR
             : (access & GENERIC_WRITE)                          ? O_WRONLY
                                                                 : O_RDONLY;
  if (disposition == CREATE_ALWAYS) mode |= O_CREAT | O_TRUNC;
  int fd = open(path.c_str(), mode | O_CLOEXEC, 0666);
  if (fd < 0 || fstat(fd, &info) != 0) {
    last_error = ErrorFromErrno(errno);
    if (fd >= 0) close(fd);
    return INVALID_HANDLE_VALUE;
  }
  if (disposition == CREATE_ALWAYS) {
    DWORD given = flags & 0xFFFF & ~FILE_ATTRIBUTE_NORMAL;
    state().attributes[FileId(info.st_dev, info.st_ino)] = given | FILE_ATTRIBUTE_ARCHIVE;
  }
  HANDLE handle = NewHandle();
  state().files[Key(handle)] = OpenFile{fd, access, share, info.st_dev, info.st_ino};
  last_error = exists && disposition == CREATE_ALWAYS ? ERROR_ALREADY_EXISTS : 0;
  return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED) {
  return TransferBytes(
      standin::CALL_READ_FILE, file, GENERIC_READ, count, transferred,
      [buffer](int fd, DWORD done, DWORD left) { return read(fd, static_cast<char*>(buffer) + done, left); });
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED) {
  return TransferBytes(standin::CALL_WRITE_FILE, file, GENERIC_WRITE, count, transferred,
                       [buffer](int fd, DWORD done, DWORD left) {
                         return write(fd, static_cast<const char*>(buffer) + done, left);
                       });
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distance_high, DWORD method) {
  bool injected = Strike(standin::CALL_SET_FILE_POINTER) != nullptr;
  OpenFile* file = FindFile(handle);
  if (!file || injected) {
    last_error = file ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move =
      distance_high
          ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
                                 static_cast<uint32_t>(distance))
          : static_cast<int64_t>(distance);
  int64_t base = 0;
  if (method == FILE_CURRENT) base = lseek(file->fd, 0, SEEK_CUR);
  if (method == FILE_END) {
    struct stat info;
    base = fstat(file->fd, &info) == 0 ? info.st_size : -1;
  }
  int64_t target = base + move;
  if (base < 0 || target < 0) {
    last_error = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->fd, target, SEEK_SET) < 0) {
    last_error = ErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high) *distance_high = static_cast<LONG>(target >> 32);
  last_error = 0;
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE handle, LPDWORD size_high) {
  bool injected = Strike(standin::CALL_GET_FILE_SIZE) != nullptr;
  OpenFile* file = FindFile(handle);
  struct stat info;
  if (!file || injected || fstat(file->fd, &info) != 0) {
    last_error = file ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  if (size_high) *size_high = static_cast<DWORD>(static_cast<uint64_t>(info.st_size) >> 32);
  last_error = 0;
  return static_cast<DWORD>(info.st_size);
}

BOOL CloseHandle(HANDLE object) {
  Strike(standin::CALL_CLOSE_HANDLE);
  State& s = state();
  auto file = s.files.find(Key(object));
  if (file != s.files.end()) {
    close(file->second.fd);
    s.files.erase(file);
    return TRUE;
  }
  auto mutex = s.mutex_handles.find(Key(object));
  if (mutex != s.mutex_handles.end()) {
    if (!mutex->second.empty() && --s.mutex_holders[mutex->second] == 0) {
      s.mutex_holders.erase(mutex->second);
    }
    s.mutex_handles.erase(mutex);
    return TRUE;
  }
  return Fail(ERROR_INVALID_HANDLE);
}

DWORD GetFileAttributesA(LPCSTR name) {
  struct stat info;
  if (!name || stat(HostPath(name).c_str(), &info) != 0) {
    last_error = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  auto found = state().attributes.find(FileId(info.st_dev, info.st_ino));
  DWORD attributes = found == state().attributes.end() ? FILE_ATTRIBUTE_ARCHIVE : found->second;
  if (IsReadOnly(info)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes) {
  if (Strike(standin::CALL_SET_FILE_ATTRIBUTES)) return Fail(ERROR_ACCESS_DENIED);
  struct stat info;
  std::string path = name ? HostPath(name) : std::string();
  if (!name || stat(path.c_str(), &info) != 0) return Fail(ERROR_FILE_NOT_FOUND);
  mode_t mode = info.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | 0200);
  if (chmod(path.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno));
  if (!S_ISDIR(info.st_mode)) {
    DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    state().attributes[FileId(info.st_dev, info.st_ino)] = kept;
  }
  last_error = 0;
  return TRUE;
}

BOOL DeleteFileA(LPCSTR name) {
  struct stat info;
  std::string path = name ? HostPath(name) : std::string();
  if (!name || stat(path.c_str(), &info) != 0) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(info.st_mode) || IsReadOnly(info)) return Fail(ERROR_ACCESS_DENIED);
  for (const auto& entry : state().files) {
    if (entry.second.device == info.st_dev && entry.second.inode == info.st_ino) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
  }
  if (unlink(path.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  state().attributes.erase(FileId(info.st_dev, info.st_ino));
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) {
  if (!name || mkdir(HostPath(name).c_str(), 0777) != 0) {
    return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR name) {
  if (!name || rmdir(HostPath(name).c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD capacity) {
  State& s = state();
  bool injected = Strike(standin::CALL_GET_MODULE_FILE_NAME) != nullptr;
  if (module || injected || !s.module_name_set || capacity == 0) {
    last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t length = s.module_name.size();
  if (length < capacity) {
    memcpy(buffer, s.module_name.c_str(), length + 1);
    last_error = 0;
    return static_cast<DWORD>(length);
  }
  memcpy(buffer, s.module_name.data(), capacity - 1);
  buffer[capacity - 1] = '\0';
  last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
  return capacity;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name) {
  State& s = state();
  if (Strike(standin::CALL_CREATE_MUTEX)) {
    last_error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  std::string key = name ? name : "";
  bool existed = false;
  if (!key.empty()) {
    for (const std::string& other : s.mutexes_elsewhere) existed = existed || other == key;
    existed = existed || s.mutex_holders.count(key) != 0;
    s.mutex_holders[key]++;
  }
  HANDLE handle = NewHandle();
  s.mutex_handles[Key(handle)] = key;
  last_error = existed ? ERROR_ALREADY_EXISTS : 0;
  return handle;
}

DWORD GetLastError(void) { return last_error; }

void SetLastError(DWORD code) { last_error = code; }

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR path, DWORD, REGSAM, PHKEY result) {
  State& s = state();
  if (Strike(standin::CALL_REG_OPEN_KEY)) return ERROR_ACCESS_DENIED;
  if (root != HKEY_LOCAL_MACHINE || !path || !result) return ERROR_INVALID_PARAMETER;
  std::string key = Lower(path);
  if (s.registry.find(key) == s.registry.end()) return ERROR_FILE_NOT_FOUND;
  HANDLE handle = NewHandle();
  s.open_keys[Key(handle)] = key;
  *result = handle;
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD data_size) {
  State& s = state();
  if (Strike(standin::CALL_REG_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  auto open = s.open_keys.find(Key(key));
  if (open == s.open_keys.end()) return ERROR_INVALID_HANDLE;
  if (reserved) return ERROR_INVALID_PARAMETER;
  auto& values = s.registry[open->second];
  auto found = values.find(Lower(value_name ? value_name : ""));
  if (found == values.end()) return ERROR_FILE_NOT_FOUND;
  const RegistryValue& value = found->second;
  if (type) *type = value.type;
  DWORD size = static_cast<DWORD>(value.data.size());
  if (!data_size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (data && *data_size < size) {
    *data_size = size;
    return ERROR_MORE_DATA;
  }
  if (data) memcpy(data, value.data.data(), size);
  *data_size = size;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  return state().open_keys.erase(Key(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  State& s = state();
  standin::MessageBoxRecord box = {};
  box.had_owner = owner != nullptr;
  strncpy(box.text, text ? text : "", sizeof box.text - 1);
  strncpy(box.caption, caption ? caption : "", sizeof box.caption - 1);
  box.style = style;
  box.open_mutexes = static_cast<unsigned>(s.mutex_handles.size());
  bool injected = Strike(standin::CALL_MESSAGE_BOX) != nullptr;
  s.boxes.push_back(box);
  if (s.box_hook) s.box_hook(box, s.box_hook_context);
  if (injected || s.next_answer >= s.answers.size()) return 0;
  return s.answers[s.next_answer++];
}

}  // extern "C"

namespace standin {

void Reset() {
  State& s = state();
  for (auto& entry : s.files) close(entry.second.fd);
  s = State();
  last_error = 0;
}

unsigned CallCount(Call call) { return state().counts[call]; }

unsigned OpenFileCount() { return static_cast<unsigned>(state().files.size()); }

void InjectFailure(Call call, unsigned nth) { InjectShortTransfer(call, nth, UINT32_MAX, true); }

void InjectShortTransfer(Call call, unsigned nth, DWORD short_count, bool fail_after_short) {
  if (nth == 0) return;
  state().injections.push_back(Injection{call, nth, short_count, fail_after_short});
}

void SetModuleFileName(const char* path) {
  State& s = state();
  s.module_name_set = path != nullptr;
  s.module_name = path ? path : "";
}

void AddRegistryKey(const char* key_path) { state().registry[Lower(key_path)]; }

void SetRegistryValue(const char* key_path, const char* value_name, DWORD type, const void* data,
                      DWORD size) {
  state().registry[Lower(key_path)][Lower(value_name)] =
      RegistryValue{type, std::string(static_cast<const char*>(data), size)};
}

unsigned OpenRegistryKeyCount() { return static_cast<unsigned>(state().open_keys.size()); }

void HoldMutexElsewhere(const char* name) { state().mutexes_elsewhere.push_back(name); }

bool MutexExists(const char* name) {
  State& s = state();
  for (const std::string& other : s.mutexes_elsewhere) {
    if (other == name) return true;
  }
  return s.mutex_holders.count(name) != 0;
}

unsigned OpenMutexCount() { return static_cast<unsigned>(state().mutex_handles.size()); }

void ScriptMessageBoxAnswers(const int* answers, size_t count) {
  state().answers.assign(answers, answers + count);
  state().next_answer = 0;
}

size_t MessageBoxCount() { return state().boxes.size(); }

const MessageBoxRecord& MessageBoxAt(size_t index) { return state().boxes.at(index); }

void SetMessageBoxHook(void (*hook)(const MessageBoxRecord&, void*), void* context) {
  state().box_hook = hook;
  state().box_hook_context = context;
}

}  // namespace standin
