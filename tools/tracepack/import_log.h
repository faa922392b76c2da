// Reading a text log into the table, in the two steps that tracepack's
// pipeline and LogFile::ImportLog share: the count and the names, then the
// value pass into the table's columns.
#pragma once

#include <cstdint>
#include <optional>

#include "io/qdlmfile.h"
#include "logtable/logfile.h"
#include "msg/qprogress.h"

// Takes the record count, the field count (at most LogFile::kMaxFields)
// and the field names from reader into table, with their messages, ending
// with "Reading log file...". Returns the records counted; the table's
// recordCount is that, or INT_MAX where it is more.
uint32_t ReadLogHeader(QDLMFile& reader, LogFile& table);

// The value pass into the table's columns, which it allocates. Where the
// columns do not fit in memory or a read fails, says so and leaves the
// table empty and not imported. progress is ended before any warning.
void ReadIntoColumns(const QDLMFile& reader, uint32_t records, const char* logFileName,
                     LogFile& table, std::optional<QProgress>& progress);

// The value pass's progress line: the share of the log's bytes read.
void StartReadProgress(const QDLMFile& reader, std::optional<QProgress>& progress);
