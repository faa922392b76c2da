// Fuzz target: arbitrary bytes as a text log, walked with QDLMFile as the
// converters do (count, fields, every line, every field) and imported with
// LogFile::ImportLog.
#include <cstddef>
#include <cstdint>

#include "fuzz_util.h"
#include "logtable/logfile.h"
#include "io/qdlmfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzutil::InputFile input("input.log");
  if (!input.Write(data, size)) return 0;

  {
    QDLMFile reader(input.Path());
    uint32_t records = reader.NoofRecs();
    int fields = reader.NoofFields();
    char field[QDLMFile::kLineBufferSize];
    // One field past the count, and a small buffer, reach the edges of GetField.
    uint32_t lines = 0;
    while (reader.NextLine() && lines <= records + 1) {
      for (int i = 0; i <= fields && i <= 2 * LogFile::kMaxFields; ++i) {
        reader.GetField(i, field, sizeof field);
        reader.GetField(i, field, 3);
      }
      ++lines;
    }
    reader.IsEOF();
    reader.Rewind();
    reader.NextLine();
  }

  LogFile table;
  table.ImportLog(input.Path());
  return 0;
}
