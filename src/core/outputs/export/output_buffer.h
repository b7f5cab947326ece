#pragma once
// The text output of a decoder: gathered in memory and written to a stream's
// descriptor in large blocks, so a flood of frames costs few system calls.

#include <cstdio>
#include <stdexcept>

#include "base/text_builder.h"

namespace zevrin {

/// The output could not be written (a full disk, a reader that has gone); what()
/// names the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Text for a stream, written out once a block has gathered and on Flush. After a
/// failed write everything else is dropped, and the first failure is kept.
class OutputBuffer {
 public:
  /// Whatever the caller has put into `out` goes out first; from then on the
  /// text is written to its descriptor directly, past the stream's own buffer
  /// (through the stream when it has no descriptor, as a stream in memory).
  explicit OutputBuffer(std::FILE* out);
  /// Writes out what is left, as Flush does, but keeps quiet about a failure.
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  /// The text not yet written; writers append to it.
  TextBuilder& text() { return text_; }

  /// Writes out the text once a whole block has gathered. Writers call it after
  /// each frame.
  void WriteIfFull() {
    if (text_.size() >= kWriteBlockSize) WriteOut();
  }

  /// Writes out all the text. Throws OutputError when it cannot be written.
  void Flush();

  /// Throws OutputError when a write has failed.
  void ThrowIfFailed() const;

 private:
  // Output is written once this much has gathered: few system calls, yet little
  // memory. A pipe holds 64 KiB.
  static constexpr std::size_t kWriteBlockSize = 128 * 1024;

  void WriteOut();

  std::FILE* out_;
  int out_fd_;           // the descriptor behind out_, written directly; -1 for none
  int write_error_ = 0;  // errno of the first failed write; 0 while all is well
  TextBuilder text_;
};

}  // namespace zevrin
