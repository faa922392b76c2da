#include "remote/qoptions.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "remote/eval.h"

namespace {

#ifdef _WIN32
const char* const kOptionsPath = "C:/trellisopt.txt";
#else
const char* const kOptionsPath = "/etc/trellisopt.txt";
#endif

std::string testPath;
bool testPathSet = false;

bool isBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the next token into buf (at most QOPTIONS_TOKEN_MAX characters and
// a terminator); characters beyond that are skipped so that an over-long
// value does not become the next key. false at the end of the file.
bool readToken(FILE* f, char (&buf)[QOPTIONS_TOKEN_MAX + 1]) {
  int c;
  do {
    c = std::fgetc(f);
  } while (c != EOF && isBlank(c));
  if (c == EOF) return false;
  int n = 0;
  while (c != EOF && !isBlank(c)) {
    if (n < QOPTIONS_TOKEN_MAX) buf[n++] = static_cast<char>(c);
    c = std::fgetc(f);
  }
  buf[n] = '\0';
  return true;
}

}  // namespace

const char* QOptionsPath() { return testPathSet ? testPath.c_str() : kOptionsPath; }

bool QOptionsRead(const char* path, QStr* host, int* port) {
  if (!path) return false;
  FILE* f = std::fopen(path, "r");
  if (!f) return false;
  char key[QOPTIONS_TOKEN_MAX + 1];
  char value[QOPTIONS_TOKEN_MAX + 1];
  while (readToken(f, key) && readToken(f, value)) {
    if (std::strcmp(key, "remotehost") == 0) {
      if (host) host->Assign(value);
    } else if (std::strcmp(key, "port") == 0) {
      if (port) *port = Eval(value);
    }
  }
  std::fclose(f);
  return true;
}

void QOptionsSetPathForTest(const char* path) {
  testPathSet = path != nullptr;
  testPath = path ? path : "";
}
