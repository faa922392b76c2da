#include "platform/msgbox.h"

#include <cstdio>

void QMessageBox(const char* text, const char* caption, unsigned) {
  std::fprintf(stderr, "[%s] %s", caption ? caption : "", text ? text : "");
  const char* t = text ? text : "";
  size_t n = 0;
  while (t[n]) ++n;
  if (n == 0 || t[n - 1] != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}
