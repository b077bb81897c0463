// Drives a real updater process from outside, as a user would: starts it,
// finds the message boxes it shows, reads them, presses their buttons and
// collects the full 32-bit exit code. Windows build only (under Wine).
#ifndef TESTS_E2E_UPDATER_DRIVER_H
#define TESTS_E2E_UPDATER_DRIVER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/win32.h"

// Every wait is bounded: a program under Wine (here under an emulator as
// well) takes seconds to start, but never this long.
const DWORD kBoxTimeoutMs = 60000;
const DWORD kExitTimeoutMs = 60000;

// The exit code we report when the process could not be started or did not end.
const DWORD kNoExitCode = 0xDEADBEEF;

enum BoxIcon { ICON_NONE, ICON_QUESTION, ICON_WARNING, ICON_INFORMATION, ICON_ERROR, ICON_UNKNOWN };
const char* IconName(BoxIcon icon);

// What one message box shows, read from its window.
struct BoxView {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;
  std::vector<int> buttons;  // visible button ids among IDOK..IDNO, ascending
  int default_button = 0;    // the button with BS_DEFPUSHBUTTON, 0 when none
  bool has_icon_control = false;
  BoxIcon icon = ICON_NONE;  // recognised by its pixels; ICON_UNKNOWN when none matches
  RECT rect = {};            // on the screen
};

// UTF-8 for messages and console output.
std::string Utf8(const std::wstring& text);

// A started updater. The destructor ends a process that is still running, so
// that a failed case never leaves a program (or its box) behind.
class UpdaterProcess {
 public:
  UpdaterProcess() = default;
  ~UpdaterProcess();
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  // `arguments` follow the quoted program path on the command line.
  bool Start(const std::string& program, const std::string& arguments, std::string* error);
  DWORD pid() const { return pid_; }
  bool running() const;

  // The next visible message box of this process, other than `previous`.
  // Null after `timeout_ms`, or when the process ends first.
  HWND WaitForBox(DWORD timeout_ms, HWND previous = nullptr);
  // Any visible box of this process right now.
  HWND FindBox() const;

  // Waits for the process to end and returns its exit code. A box that shows
  // up meanwhile is unexpected: its text is added to `unexpected` and it is
  // dismissed. kNoExitCode when the process did not end (it is then ended).
  DWORD WaitForExit(DWORD timeout_ms, std::vector<std::wstring>* unexpected);

  void Terminate();

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// Reads a box; `with_icon` also captures the screen to tell its icon.
BoxView ReadBox(HWND box, bool with_icon);
// Presses a button as a click does; false when the box has no such button.
bool PressButton(HWND box, int id);
// Waits until `box` is gone (destroyed or hidden).
bool WaitUntilGone(HWND box, DWORD timeout_ms);

// Whether a named mutex exists right now, seen by a program that opens it.
bool MutexExists(const char* name);
// Whether creating the mutex finds an existing one (the game's own test).
bool CreatingMutexFindsOne(const char* name);

// The installer's registry key and value (HKEY_LOCAL_MACHINE, this
// program's 32-bit view, which is the one the 32-bit updater reads).
extern const char kInstallKeyPath[];
extern const char kInstallValueName[];
// Removes the key with its values; true when it is gone.
bool RemoveInstallKey();
// Creates the key, removes the value; true when the key stands without it.
bool WriteInstallKeyWithoutValue();
// Stores exactly `data` (its NUL, if any, included) with the given type.
bool WriteInstallValue(DWORD type, const std::string& data);

// The absolute form of a path (a Linux path becomes one on Wine's Z: drive).
std::string FullPath(const std::string& path);

// A screen area as 32-bit pixels (0x00RRGGBB), rows top-down.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> data;
};
bool CaptureScreen(const RECT& rect, Pixels* pixels);
// Waits until two captures a moment apart agree, so that the box is drawn.
bool CaptureSettled(const RECT& rect, Pixels* pixels);
bool WriteBmp(const std::string& path, const Pixels& pixels);

#endif  // TESTS_E2E_UPDATER_DRIVER_H
