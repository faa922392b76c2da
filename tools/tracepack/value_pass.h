// The value pass: every record of a counted log converted and handed to a
// row sink, block by block, on one thread per core.
//
// The records are cut into blocks at the reader's checkpoints; each thread
// takes the next block, asks its RowSink::Writer where the block's rows go,
// converts the block's lines into them (exactly as atof would, a missing field 0.0, extra fields
// ignored) and tells the writer they are filled.
// Where a value lands never depends on the thread that read it.
#pragma once

#include <memory>

#include "io/qdlmfile.h"

// Where the value pass puts the rows: the table's columns, or the rows of
// a MAT-file laid out in advance.
class RowSink {
 public:
  // One thread's access to the sink; a thread gets its own at its first
  // block.
  class Writer {
   public:
    virtual ~Writer() = default;
    // Where rows [first, first + count) go: rows[i][r] is field i of record
    // first + r. 0, or kSinkFailed to stop the pass.
    virtual int Rows(int first, int count, double** rows) = 0;
    // The rows last handed out are filled.
    virtual int Filled(int first, int count) = 0;
    // This thread has no block left.
    virtual int Finish() { return 0; }
  };

  virtual ~RowSink() = default;
  virtual std::unique_ptr<Writer> NewWriter() = 0;
};

// The rows a sink is asked for at a time: one checkpoint stride at most.
// Longer blocks would make longer writes, which cost the kernel less per
// byte, but each thread's block is megabytes of fresh memory, which costs
// more where huge pages are not to be had: in a virtual machine that takes
// a fault of its own for every 4 KiB page first touched, blocks of one
// stride took 0.83 to 0.93 of the time of blocks of four on L, and no
// longer with huge pages.
constexpr size_t kValueRecordsAtMost = QDLMFile::kCheckpointStride;

// A sink's failure, told apart from a failed read (a positive errno).
constexpr int kSinkFailed = -1;

// Reads records 0 .. recordCount - 1 of reader, fieldCount fields each,
// into sink. 0 when every record went in; the errno of a read that failed
// (the log changed under us, a disk error); or kSinkFailed.
int ReadValues(const QDLMFile& reader, int recordCount, int fieldCount, RowSink& sink);
