#include "platform/msgbox.h"

#include <windows.h>

void QMessageBox(const char* text, const char* caption, unsigned style) {
  // Modal and without an owner window: the program waits until it is closed.
  ::MessageBoxA(nullptr, text ? text : "", caption ? caption : "", style);
}
