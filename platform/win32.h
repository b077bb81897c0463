// The one door to the operating system. Product code includes this header and
// nothing else of the OS. On Windows it is <windows.h>; elsewhere it declares,
// in our own words, the few types, constants and calls the updater uses, which
// platform/posix_win32.cpp implements on top of POSIX for the host test build.
#ifndef PLATFORM_WIN32_H
#define PLATFORM_WIN32_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else  // host stand-in

#include <stdint.h>

#define WINAPI
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef LONG* PLONG;
typedef void* HANDLE;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;
typedef HANDLE HWND;
typedef HANDLE HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef struct OVERLAPPED_STANDIN* LPOVERLAPPED;
typedef struct SECURITY_ATTRIBUTES_STANDIN* LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)0xFFFFFFFF)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_HIDDEN 0x2u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_WRITE_FAULT 29L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L

#define HKEY_LOCAL_MACHINE ((HKEY)(intptr_t)(int32_t)0x80000002)
#define KEY_READ 0x20019u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u

#define MB_OK 0x0u
#define MB_YESNO 0x4u
#define MB_ICONQUESTION 0x20u
#define MB_ICONWARNING 0x30u
#define MB_ICONEXCLAMATION 0x30u
#define MB_ICONINFORMATION 0x40u
#define MB_DEFBUTTON2 0x100u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#ifdef __cplusplus
extern "C" {
#endif

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD transferred, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
BOOL CloseHandle(HANDLE object);
BOOL SetFileAttributesA(LPCSTR name, DWORD attributes);
DWORD GetFileAttributesA(LPCSTR name);
BOOL DeleteFileA(LPCSTR name);
BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryA(LPCSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD capacity);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initial_owner, LPCSTR name);
DWORD GetLastError(void);
void SetLastError(DWORD code);
LSTATUS RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD data_size);
LSTATUS RegCloseKey(HKEY key);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32

#endif  // PLATFORM_WIN32_H
