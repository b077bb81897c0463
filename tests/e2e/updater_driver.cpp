#include "tests/e2e/updater_driver.h"

#include <stdio.h>
#include <string.h>

namespace {

// The static control that holds a message box's icon: Wine's id, then Windows'.
const int kIconControlIds[] = {0x440, 0x14};
// The text control of a message box, the same on both.
const int kTextControlId = 0xFFFF;

DWORD Elapsed(DWORD since) { return GetTickCount() - since; }

struct BoxSearch {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM parameter) {
  BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (strcmp(class_name, "#32770") != 0) return TRUE;
  search->found = window;
  return FALSE;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  int length = GetWindowTextW(window, buffer, 1024);
  return std::wstring(buffer, length > 0 ? length : 0);
}

// A DIB section of the given size, selected into a memory DC.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  uint32_t* bits = nullptr;
  int width = 0;
  int height = 0;

  bool Create(int w, int h) {
    width = w;
    height = h;
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!dc || !bitmap) return false;
    bits = static_cast<uint32_t*>(memory);
    old = SelectObject(dc, bitmap);
    return true;
  }
  void CopyTo(Pixels* pixels) const {
    GdiFlush();
    pixels->width = width;
    pixels->height = height;
    pixels->data.assign(bits, bits + static_cast<size_t>(width) * height);
    for (uint32_t& pixel : pixels->data) pixel &= 0x00FFFFFF;
  }
  ~Canvas() {
    if (old) SelectObject(dc, old);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
  }
};

// The system's own icon drawn as the box would draw it, on `background`.
bool RenderIcon(LPCSTR id, uint32_t background, int width, int height, Pixels* pixels) {
  HICON icon = LoadIconA(nullptr, id);
  Canvas canvas;
  if (!icon || !canvas.Create(width, height)) return false;
  for (int i = 0; i < width * height; ++i) canvas.bits[i] = background;
  DrawIconEx(canvas.dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  canvas.CopyTo(pixels);
  return true;
}

size_t DifferingPixels(const Pixels& a, const Pixels& b) {
  if (a.data.size() != b.data.size()) return a.data.size() + b.data.size();
  size_t differ = 0;
  for (size_t i = 0; i < a.data.size(); ++i) {
    if (a.data[i] != b.data[i]) ++differ;
  }
  return differ;
}

// Tells the icon by comparing the control's pixels with each system icon
// drawn on the control's own background (its top-left pixel, which every
// system icon leaves transparent).
BoxIcon RecogniseIcon(HWND control) {
  RECT rect;
  Pixels shown;
  if (!GetWindowRect(control, &rect) || !CaptureSettled(rect, &shown) || shown.data.empty())
    return ICON_UNKNOWN;
  struct Candidate {
    LPCSTR id;
    BoxIcon icon;
  };
  const Candidate candidates[] = {{IDI_QUESTION, ICON_QUESTION},
                                  {IDI_WARNING, ICON_WARNING},
                                  {IDI_INFORMATION, ICON_INFORMATION},
                                  {IDI_ERROR, ICON_ERROR}};
  BoxIcon best = ICON_UNKNOWN;
  size_t best_differ = shown.data.size();
  for (const Candidate& candidate : candidates) {
    Pixels drawn;
    if (!RenderIcon(candidate.id, shown.data[0], shown.width, shown.height, &drawn)) continue;
    size_t differ = DifferingPixels(shown, drawn);
    if (differ < best_differ) {
      best_differ = differ;
      best = candidate.icon;
    }
  }
  // The same icon drawn the same way differs in no pixel; allow a little for
  // a control drawn with other rounding, never enough to take another icon.
  return best_differ * 20 <= shown.data.size() ? best : ICON_UNKNOWN;
}

}  // namespace

const char* IconName(BoxIcon icon) {
  switch (icon) {
    case ICON_NONE:
      return "none";
    case ICON_QUESTION:
      return "question";
    case ICON_WARNING:
      return "warning";
    case ICON_INFORMATION:
      return "information";
    case ICON_ERROR:
      return "error";
    default:
      return "unknown";
  }
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string bytes(length > 0 ? length : 0, '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length, nullptr,
                        nullptr);
  }
  return bytes;
}

UpdaterProcess::~UpdaterProcess() {
  Terminate();
  if (process_) CloseHandle(process_);
}

bool UpdaterProcess::Start(const std::string& program, const std::string& arguments, std::string* error) {
  std::string command = "\"" + program + "\"";
  if (!arguments.empty()) command += " " + arguments;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    *error = "cannot start " + program + ", error " + std::to_string(GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  process_ = process.hProcess;
  pid_ = process.dwProcessId;
  return true;
}

bool UpdaterProcess::running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

HWND UpdaterProcess::FindBox() const {
  BoxSearch search = {pid_, nullptr};
  EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND UpdaterProcess::WaitForBox(DWORD timeout_ms, HWND previous) {
  DWORD start = GetTickCount();
  while (Elapsed(start) < timeout_ms) {
    HWND box = FindBox();
    if (box && box != previous) return box;
    if (!running()) return nullptr;
    Sleep(50);
  }
  return nullptr;
}

DWORD UpdaterProcess::WaitForExit(DWORD timeout_ms, std::vector<std::wstring>* unexpected) {
  if (!process_) return kNoExitCode;
  DWORD start = GetTickCount();
  while (Elapsed(start) < timeout_ms) {
    if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) {
      DWORD code = kNoExitCode;
      return GetExitCodeProcess(process_, &code) ? code : kNoExitCode;
    }
    HWND box = FindBox();
    if (!box) continue;
    // Never Yes: an unexpected question must not start an update.
    if (unexpected) unexpected->push_back(GetDlgItem(box, kTextControlId) ? ReadBox(box, false).text : L"?");
    if (!PressButton(box, IDNO) && !PressButton(box, IDOK)) PostMessageW(box, WM_CLOSE, 0, 0);
    WaitUntilGone(box, 5000);
  }
  Terminate();
  return kNoExitCode;
}

void UpdaterProcess::Terminate() {
  if (!running()) return;
  TerminateProcess(process_, kNoExitCode);
  WaitForSingleObject(process_, 10000);
}

BoxView ReadBox(HWND box, bool with_icon) {
  BoxView view;
  view.window = box;
  view.caption = WindowText(box);
  wchar_t text[1024] = {};
  int length = GetDlgItemTextW(box, kTextControlId, text, 1024);
  view.text.assign(text, length > 0 ? length : 0);
  // Every button a message box can have (IDOK 1 to IDCONTINUE 11, help 9).
  for (int id = IDOK; id <= 11; ++id) {
    HWND button = GetDlgItem(box, id);
    if (!button || !IsWindowVisible(button)) continue;
    view.buttons.push_back(id);
    if ((GetWindowLongW(button, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON) view.default_button = id;
  }
  GetWindowRect(box, &view.rect);
  HWND icon = nullptr;
  for (int id : kIconControlIds) {
    icon = GetDlgItem(box, id);
    if (icon && IsWindowVisible(icon)) break;
    icon = nullptr;
  }
  view.has_icon_control = icon != nullptr;
  if (icon) view.icon = with_icon ? RecogniseIcon(icon) : ICON_UNKNOWN;
  return view;
}

bool PressButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  if (!button || !IsWindowVisible(button)) return false;
  return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != 0;
}

bool WaitUntilGone(HWND box, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  while (Elapsed(start) < timeout_ms) {
    if (!IsWindow(box) || !IsWindowVisible(box)) return true;
    Sleep(20);
  }
  return false;
}

bool MutexExists(const char* name) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
  if (!mutex) return false;
  CloseHandle(mutex);
  return true;
}

bool CreatingMutexFindsOne(const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  DWORD error = GetLastError();
  if (mutex) CloseHandle(mutex);
  return error == ERROR_ALREADY_EXISTS;
}

const char kInstallKeyPath[] = "Software\\Tobarin\\Orvale";
const char kInstallValueName[] = "InstalledFolder";

bool RemoveInstallKey() {
  LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstallKeyPath);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool WriteInstallKeyWithoutValue() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG status = RegDeleteValueA(key, kInstallValueName);
  RegCloseKey(key);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool WriteInstallValue(DWORD type, const std::string& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG status = RegSetValueExA(key, kInstallValueName, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = {};
  DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(full, length) : path;
}

bool CaptureScreen(const RECT& rect, Pixels* pixels) {
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  Canvas canvas;
  if (!canvas.Create(width, height)) return false;
  HDC screen = GetDC(nullptr);
  BOOL copied = BitBlt(canvas.dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
  ReleaseDC(nullptr, screen);
  if (!copied) return false;
  canvas.CopyTo(pixels);
  return true;
}

bool CaptureSettled(const RECT& rect, Pixels* pixels) {
  Pixels previous;
  if (!CaptureScreen(rect, &previous)) return false;
  for (int attempt = 0; attempt < 40; ++attempt) {
    Sleep(100);
    if (!CaptureScreen(rect, pixels)) return false;
    if (pixels->data == previous.data) return true;
    previous = *pixels;
  }
  return true;  // still changing after 4 s: take the last picture
}

bool WriteBmp(const std::string& path, const Pixels& pixels) {
  // 24 bits, rows bottom-up and padded to 4 bytes: the form every reader knows.
  const int row = (pixels.width * 3 + 3) & ~3;
  const DWORD image_size = static_cast<DWORD>(row) * pixels.height;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER info = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + image_size;
  info.biSize = sizeof info;
  info.biWidth = pixels.width;
  info.biHeight = pixels.height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = image_size;
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
  bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
  for (int y = pixels.height - 1; y >= 0; --y) {
    std::string line(row, '\0');
    for (int x = 0; x < pixels.width; ++x) {
      uint32_t pixel = pixels.data[static_cast<size_t>(y) * pixels.width + x];
      line[x * 3] = static_cast<char>(pixel & 0xFF);
      line[x * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
      line[x * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
    }
    bytes += line;
  }
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return fclose(out) == 0 && ok;
}
