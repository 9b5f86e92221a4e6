#include "app/console_setup.h"

#if defined(_WIN32)
#include <windows.h>
#endif

void PrepareConsole() {
#if defined(_WIN32)
  SetConsoleOutputCP(CP_UTF8);
#endif
}
