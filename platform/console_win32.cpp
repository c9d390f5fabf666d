#include <windows.h>

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

}  // namespace kelta
