// Statements: fixed-format and free-form transfers on a unit or a text variable.
#include "record/statements.h"

#include <algorithm>
#include <cstdint>

#include "record/list_input.h"
#include "record/list_output.h"

namespace rec {

void Units::write_formatted(UnitRef unit, const BoundFormat& f, ItemCursor items, std::size_t times) {
  settle(unit, status_of([&] {
           UnitFile* file = nullptr;
           std::string* out = nullptr;
           int st = for_write(unit.unit, file, out);
           if (st != 0) return st;
           const std::size_t start = out->size();
           format_statement(f, items, *out);
           if (times == 1) return file->end_write();
           // Each further write appends the same characters and is written
           // out at the same points as a write of its own would be.
           const std::string records = out->substr(start);
           for (std::size_t k = 1; k < times && st == 0; ++k) {
             st = file->end_write();
             if (st == 0) out->append(records);
           }
           return st != 0 ? st : file->end_write();
         }));
}

void Units::write_list(UnitRef unit, ItemCursor items) {
  settle(unit, status_of([&] {
           UnitFile* file = nullptr;
           std::string* out = nullptr;
           if (const int st = for_write(unit.unit, file, out); st != 0) return st;
           list_write(*out, items);
           return file->end_write();
         }));
}

void Units::read_formatted(UnitRef unit, const BoundFormat& f, ItemCursor items) {
  settle(unit, status_of([&] {
           UnitFile* file = nullptr;
           if (const int st = for_read(unit.unit, file); st != 0) return st;
           FormattedReader reader(f, items);
           for (;;) {
             std::string_view record;
             if (!file->next(record)) return kEndOfFile;
             int status = 0;
             const bool more = reader.next_record(record, status);
             if (status != 0) return status;
             if (!more) return 0;
           }
         }));
}

void Units::read_list_items(UnitRef unit, ItemCursor items) {
  settle(unit, status_of([&] {
           UnitFile* file = nullptr;
           if (const int st = for_read(unit.unit, file); st != 0) return st;
           return list_read(*file, ListSource::External, items);
         }));
}

void Units::read_list_to_end(UnitRef unit, tarvello::TextRef text, FileScan& scan) {
  bool read = false;
  const int status = status_of([&] {
    UnitFile* file = nullptr;
    if (const int st = for_read(unit.unit, file); st != 0) return st;
    UnitFile::Identity id{};
    if (!file->identity(id)) return 0;  // no regular file: nothing to read
    // The pass goes on where it stopped when this is the file it passed
    // over and that file has not become shorter; else it starts anew.
    const auto taken = static_cast<std::uint64_t>(id.length);
    if (id.device != scan.device || id.inode != scan.inode || scan.reads.taken() > taken) {
      scan.reads.restart();
      scan.device = id.device;
      scan.inode = id.inode;
    }
    if (taken == 0) return 0;  // an empty file is not read
    read = true;
    std::string chunk;
    while (scan.reads.taken() < taken) {
      chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(taken - scan.reads.taken(), 1 << 20)));
      const std::size_t got = file->read_at(static_cast<off_t>(scan.reads.taken()), chunk.data(), chunk.size());
      if (got == 0) break;  // the file was cut short since the open
      scan.reads.take(std::string_view(chunk.data(), got));
    }
    const TextReadsScan::Outcome outcome = scan.reads.outcome();
    if (outcome.assigned) text.assign(outcome.text);
    return outcome.status;
  });
  if (read || status > 0) settle(unit, status);
  // A pass cut off by a read error is not carried on.
  if (status == kReadError) scan = FileScan();
}

// ---------------------------------------------------------------------------
// Transfers on a text variable.

namespace detail {

void write_internal(tarvello::TextRef target, const BoundFormat& f, ItemCursor items) {
  std::string record;
  FormattedWriter writer(f, items);
  if (const int st = status_of([&] {
        writer.next_record(record);
        return 0;
      });
      st != 0)
    fail(st, -1, "internal formatted write");
  target.assign(record);
}

int read_internal(std::string_view text, const BoundFormat& f, ItemCursor items) {
  FormattedReader reader(f, items);
  return status_of([&] {
    int status = 0;
    if (reader.next_record(text, status) && status == 0) return kEndOfFile;
    return status;
  });
}

int read_internal_list(std::string_view text, ItemCursor items) {
  TextSource source(text);
  return list_read(source, ListSource::Internal, items);
}

}  // namespace detail

}  // namespace rec
