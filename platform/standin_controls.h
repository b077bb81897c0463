// Test-only controls of the host stand-in for the Win32 calls. Tests include
// this header; product code never does, and the Windows build has no such file
// in its include path for product targets.
#ifndef PLATFORM_STANDIN_CONTROLS_H
#define PLATFORM_STANDIN_CONTROLS_H

#ifdef _WIN32
#error "standin_controls.h belongs to the host stand-in only"
#endif

#include <stddef.h>
#include <stdint.h>

#include "platform/win32.h"

namespace standin {

// Every platform call the stand-in counts and can be told to fail.
enum Call {
  CALL_CREATE_FILE,
  CALL_READ_FILE,
  CALL_WRITE_FILE,
  CALL_SET_FILE_POINTER,
  CALL_GET_FILE_SIZE,
  CALL_CLOSE_HANDLE,
  CALL_SET_FILE_ATTRIBUTES,
  CALL_GET_MODULE_FILE_NAME,
  CALL_CREATE_MUTEX,
  CALL_REG_OPEN_KEY,
  CALL_REG_QUERY_VALUE,
  CALL_MESSAGE_BOX,
  CALL_COUNT_OF_KINDS
};

// Puts the stand-in back to its start state: closes every handle it still
// holds, forgets mutexes, registry contents, message box script and record,
// injected failures and call counters; the module file name becomes unset.
void Reset();

// How many times `call` was made since the last Reset.
unsigned CallCount(Call call);

// Number of file handles currently open (a leak shows up here).
unsigned OpenFileCount();

// Failure injection. The `nth` call (1-based, counted from now) of `call`
// fails the way the call reports failure (INVALID_HANDLE_VALUE, FALSE,
// INVALID_FILE_SIZE, ...). For ReadFile and WriteFile a `short_count` other
// than UINT32_MAX makes that call succeed but transfer at most `short_count`
// bytes instead; `fail_after_short` makes it report failure after moving them.
// Several injections may be pending at once.
void InjectFailure(Call call, unsigned nth);
void InjectShortTransfer(Call call, unsigned nth, DWORD short_count, bool fail_after_short);

// GetModuleFileNameA reports this path (truncated to the caller's capacity as
// Windows does: capacity-1 bytes, a NUL, and the capacity as result). After
// Reset it is the test program's own path; null makes the call fail, writing
// nothing and returning 0.
void SetModuleFileName(const char* path);

// Registry: a value under HKEY_LOCAL_MACHINE\key_path. Replaces an existing one.
void SetRegistryValue(const char* key_path, const char* value_name, DWORD type, const void* data, DWORD size);
// A key with no values.
void AddRegistryKey(const char* key_path);
// Number of registry keys currently open (RegCloseKey balances RegOpenKeyExA).
unsigned OpenRegistryKeyCount();

// Mutexes: pretends another process holds a mutex of this name, so that
// CreateMutexA of it reports ERROR_ALREADY_EXISTS.
void HoldMutexElsewhere(const char* name);
// Whether a mutex of this name exists now (held by us or "elsewhere").
bool MutexExists(const char* name);
// Number of mutex handles the program holds open.
unsigned OpenMutexCount();

// Message boxes: each MessageBoxA call is recorded, then answered with the
// next scripted answer (0, "cannot be shown", when the script is used up).
struct MessageBoxRecord {
  bool had_owner;
  char text[512];
  char caption[128];
  UINT style;
  unsigned open_mutexes;  // mutex handles the program held while the box was up
};
void ScriptMessageBoxAnswers(const int* answers, size_t count);
size_t MessageBoxCount();
const MessageBoxRecord& MessageBoxAt(size_t index);
// Called while a box is "open", before its answer is returned; may be null.
void SetMessageBoxHook(void (*hook)(const MessageBoxRecord& box, void* context), void* context);

}  // namespace standin

#endif  // PLATFORM_STANDIN_CONTROLS_H
