// Free-form input: one tokenizer that fills the items of a read from the
// values of one or more records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "record/items.h"
#include "record/number_input.h"
#include "record/record_source.h"

namespace rec {

// The longest text value a read accepts.
inline constexpr std::size_t kListTextLimit = 2049;

// Reads the items of one free-form read. Returns 0, kEndOfFile, kSyntaxError
// or kConversionError; items that the read does not reach keep their values.
int list_read(RecordSource& source, ListSource kind, ItemCursor items);

// What free-form reads of one text item each leave in the text and in their
// status when they read a file from its first record to its end:
//
//     while (!at_end(unit)) read(checked(unit, status), text)
//
// found by one pass over the file's bytes. A read passes over blank records,
// takes the first value of the next record (a quoted value may run on over
// further records), and passes over the rest of that record: every read
// starts on a record of its own, so the pass looks only at the first value
// of each record. It can be carried on over bytes that are appended to the
// file later: it keeps where the reads stood at the end of the bytes taken,
// inside a read that the end cut short included.
class TextReadsScan {
 public:
  // What the reads leave once the file ends after the bytes taken so far,
  // when they took any: a file without bytes is not read at all.
  struct Outcome {
    int status = 0;         // the status of the last read
    bool assigned = false;  // some read assigned a value to the text ...
    std::string text;       // ... and this is the value of the latest one
  };

  // Starts again at the file's first byte.
  void restart();
  // Takes the next bytes of the file.
  void take(std::string_view bytes);
  // The number of bytes taken since the start.
  std::uint64_t taken() const { return taken_; }
  Outcome outcome() const;

 private:
  // Where the reads stand.
  enum class Phase : std::uint8_t {
    Between,  // no read is under way: the next record starts one
    Seeking,  // a read has met only blank records so far
    Quoted,   // a read is inside a quoted value
  };
  // Where the pass stands in the current record.
  enum class At : std::uint8_t {
    Start,     // no byte of it yet
    Mark,      // it holds the single character 26 so far
    Blanks,    // only blanks so far, and no value
    Count,     // digits, which may be a repeat count
    Counted,   // just after a count r > 0 and its '*'
    Token,     // in a value without quotes
    Quote,     // in a quoted value
    QuoteEnd,  // just after a quote in a quoted value
    Rest,      // the read has its value: the rest of the record is passed over
  };
  void put(char c);
  void end_record();
  void start_value(char c);
  void close_quote();
  void keep(char c);
  void assign();

  Phase phase_ = Phase::Between;
  At at_ = At::Start;
  std::size_t crs_ = 0;  // CR bytes met since the last other byte, held back
  char quote_ = 0;
  bool counted_ = false;  // the digits of Count hold one that is not 0
  std::string value_;     // the value under way
  Outcome seen_;
  std::uint64_t taken_ = 0;
};

}  // namespace rec
