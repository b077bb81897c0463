// The demo: one real run of a packed updater against a registered install
// folder, each box reported (and pictured) as it comes.
#include <stdio.h>

#include <string>

#include "tests/e2e/e2e_options.h"
#include "tests/e2e/updater_driver.h"

namespace {

// A person may take a while to read and click; a run left alone still ends.
const DWORD kPersonTimeoutMs = 15 * 60 * 1000;

std::string FromCodePage(const std::string& bytes) {
  wchar_t wide[1024] = {};
  int length = MultiByteToWideChar(CP_ACP, 0, bytes.c_str(), static_cast<int>(bytes.size()), wide, 1024);
  return Utf8(std::wstring(wide, length > 0 ? length : 0));
}

const char* ButtonName(int id) {
  switch (id) {
    case IDOK:
      return "OK";
    case IDYES:
      return "Yes";
    case IDNO:
      return "No";
    case IDCANCEL:
      return "Cancel";
    default:
      return "other";
  }
}

void Describe(int index, const BoxView& view) {
  printf("box %d: caption \"%s\"\n", index, Utf8(view.caption).c_str());
  printf("box %d: text    \"%s\"\n", index, Utf8(view.text).c_str());
  printf("box %d: buttons", index);
  for (int id : view.buttons) printf(" %s%s", ButtonName(id), id == view.default_button ? " (default)" : "");
  printf("; icon %s\n", IconName(view.icon));
}

}  // namespace

int RunDemo(const E2eOptions& options) {
  const std::string folder = FullPath(options.folder);
  if (!WriteInstallValue(REG_SZ, folder + std::string(1, '\0'))) {
    fprintf(stderr, "cannot write the registry value\n");
    return 1;
  }
  printf("registry: HKEY_LOCAL_MACHINE\\%s, %s = \"%s\" (REG_SZ)\n", kInstallKeyPath, kInstallValueName,
         FromCodePage(folder).c_str());

  UpdaterProcess updater;
  std::string error;
  if (!updater.Start(FullPath(options.demo), "", &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  printf("started %s (process %lu)%s\n", FromCodePage(FullPath(options.demo)).c_str(),
         static_cast<unsigned long>(updater.pid()), options.watch ? ": answer its boxes on the screen" : "");
  fflush(stdout);
  const DWORD box_timeout = options.watch ? kPersonTimeoutMs : kBoxTimeoutMs;
  for (int index = 1; updater.running(); ++index) {
    HWND box = updater.WaitForBox(box_timeout);
    if (!box) break;
    BoxView view = ReadBox(box, true);
    Describe(index, view);
    if (!options.shots.empty()) {
      Pixels pixels;
      std::string name = "box-" + std::to_string(index) + "-" + IconName(view.icon) + ".bmp";
      std::string path = FullPath(options.shots) + "\\" + name;
      if (CaptureSettled(view.rect, &pixels) && WriteBmp(path, pixels)) {
        printf("box %d: picture %s (%dx%d)\n", index, name.c_str(), pixels.width, pixels.height);
      } else {
        printf("box %d: no picture\n", index);
      }
    }
    if (!options.watch) {
      int answer = PressButton(box, IDYES) ? IDYES : IDOK;
      if (answer == IDOK) PressButton(box, IDOK);
      printf("box %d: answered %s\n", index, ButtonName(answer));
    }
    fflush(stdout);
    WaitUntilGone(box, box_timeout);
  }
  std::vector<std::wstring> unexpected;
  DWORD code = updater.WaitForExit(kExitTimeoutMs, &unexpected);
  for (const std::wstring& text : unexpected) printf("dismissed a late box: \"%s\"\n", Utf8(text).c_str());
  if (code == kNoExitCode) {
    printf("the updater did not end; it was stopped\n");
    return 1;
  }
  printf("exit code: 0x%08lX\n", static_cast<unsigned long>(code));
  return 0;
}
