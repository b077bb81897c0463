// Under Wine: the time from CreateProcess to the first visible message box
// with the caption "Orvale", for each program in turn, REPS times each:
//   wine_timer REPS FOLDER PROGRAM...
// FOLDER goes into the registry as the install folder, so that the updater
// reaches its question; each program is ended as soon as its box shows, so
// the updater writes nothing. Prints one line per program: median and best ms.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

const char kKey[] = "Software\\Tobarin\\Orvale";

struct BoxFinder {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  BoxFinder* finder = reinterpret_cast<BoxFinder*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char caption[16] = {};
  if (owner == finder->process && IsWindowVisible(window) &&
      GetWindowTextA(window, caption, sizeof caption) && strcmp(caption, "Orvale") == 0) {
    finder->box = window;
    return FALSE;
  }
  return TRUE;
}

// Milliseconds to the box, or a negative value when none came. `question`
// tells whether the box has a Yes button.
double TimeToBox(const char* program, bool* question) {
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  char command[MAX_PATH + 2];
  snprintf(command, sizeof command, "\"%s\"", program);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(program, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    fprintf(stderr, "cannot start %s (%lu)\n", program, GetLastError());
    return -1;
  }
  BoxFinder finder = {process.dwProcessId, nullptr};
  double elapsed = -1;
  for (;;) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&finder));
    QueryPerformanceCounter(&now);
    double ms = (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    if (finder.box) {
      elapsed = ms;
      break;
    }
    if (ms > 120000 || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
    Sleep(1);
  }
  *question = finder.box && GetDlgItem(finder.box, IDYES) != nullptr;
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: wine_timer REPS FOLDER PROGRAM...\n");
    return 2;
  }
  const int reps = atoi(argv[1]);
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0 ||
      RegSetValueExA(key, "InstalledFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[2]),
                     static_cast<DWORD>(strlen(argv[2]) + 1)) != 0) {
    fprintf(stderr, "cannot set the install folder in the registry\n");
    return 1;
  }
  RegCloseKey(key);

  const int programs = argc - 3;
  std::vector<std::vector<double>> times(programs);
  int status = 0;
  for (int rep = 0; rep < reps && status == 0; ++rep) {
    for (int i = 0; i < programs; ++i) {
      bool question = false;
      double ms = TimeToBox(argv[3 + i], &question);
      if (ms < 0 || !question) {
        fprintf(stderr, "%s showed no question\n", argv[3 + i]);
        status = 1;
        break;
      }
      times[i].push_back(ms);
    }
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Tobarin");
  for (int i = 0; i < programs && status == 0; ++i) {
    std::vector<double>& t = times[i];
    std::sort(t.begin(), t.end());
    printf("%s %.1f %.1f\n", argv[3 + i], t[t.size() / 2], t[0]);
  }
  return status;
}
