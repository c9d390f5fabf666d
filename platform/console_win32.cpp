#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

namespace kelta {

namespace {

UINT g_output_code_page = 0;

// The console outlives the program: it gets its code page back.
void RestoreCodePage() { SetConsoleOutputCP(g_output_code_page); }

}  // namespace

void UseUtf8Console() {
  g_output_code_page = GetConsoleOutputCP();
  if (g_output_code_page == 0 || g_output_code_page == CP_UTF8) return;  // none, or done
  if (SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreCodePage);
}

namespace {

bool Goes(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void AttachParentConsole() {
  if (Goes(STD_OUTPUT_HANDLE)) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::FILE* out = std::freopen("CONOUT$", "w", stdout);
  if (!Goes(STD_ERROR_HANDLE)) out = std::freopen("CONOUT$", "w", stderr);
  static_cast<void>(out);
}

}  // namespace kelta
