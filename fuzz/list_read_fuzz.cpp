// Free-form input on arbitrary bytes.
//
// Input: one byte that chooses the source (bit 0: a unit's file or a text
// variable) and the number of items (bits 1-3: 1 to 8), one byte per item for
// its kind (an integer, a real, a text of length 1, 12, 19 or 2048, a row of
// three reals, a row of three integers), then the bytes of the file or of the
// text. A file is read by successive reads with the same items until its
// records are used up, as a program reads a file line after line.
//
// Every item lives in a heap block of exactly its size, so a write past an
// item is a sanitizer report. Checked: every status is 0, -1, 59 or 64; a
// read from a text variable reads nothing after its one record; each read of
// a file takes at least one record unless none is left.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "record/items.h"
#include "record/list_input.h"

namespace {

constexpr std::size_t kTextLengths[] = {1, 12, 19, 2048};
constexpr std::size_t kRowLength = 3;
constexpr int kMaxReads = 4096;

struct Items {
  std::vector<std::unique_ptr<char[]>> blocks;
  std::vector<rec::ItemGroup> groups;

  void* block(std::size_t size, char fill) {
    blocks.push_back(std::make_unique<char[]>(size));
    std::memset(blocks.back().get(), fill, size);
    return blocks.back().get();
  }
  void add(std::uint8_t choice) {
    switch (choice % 8) {
      case 0:
        groups.push_back({rec::ItemKind::Integer, block(sizeof(std::int32_t), 0x5a), 1, 0, 0});
        break;
      case 1:
        groups.push_back({rec::ItemKind::Real, block(sizeof(float), 0x5a), 1, 0, 0});
        break;
      case 6:
        groups.push_back({rec::ItemKind::Real, block(kRowLength * sizeof(float), 0x5a), kRowLength, sizeof(float), 0});
        break;
      case 7:
        groups.push_back({rec::ItemKind::Integer, block(kRowLength * sizeof(std::int32_t), 0x5a), kRowLength,
                          sizeof(std::int32_t), 0});
        break;
      default: {
        const std::size_t length = kTextLengths[choice % 8 - 2];
        groups.push_back({rec::ItemKind::Text, block(length, '\0'), 1, 0, length});
        break;
      }
    }
  }
};

void check_status(int status) {
  if (status != 0 && status != rec::kEndOfFile && status != rec::kSyntaxError && status != rec::kConversionError)
    fuzz::fault("free-form read status " + std::to_string(status));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t head = in.byte();
  const bool internal = (head & 1) != 0;
  const int count = (head >> 1) % 8 + 1;
  Items items;
  for (int k = 0; k < count; ++k) items.add(in.byte());
  const std::string_view bytes = in.rest();

  if (internal) {
    fuzz::TextSource text(bytes);
    check_status(rec::list_read(text, rec::ListSource::Internal, rec::ItemCursor(items.groups)));
    std::string_view record;
    if (text.next(record)) fuzz::fault("an internal read left its record for a later one");
    return 0;
  }

  fuzz::LineSource file(bytes);
  int last_status = 0;
  for (int reads = 0; reads < kMaxReads && !file.exhausted(); ++reads) {
    const std::size_t before = file.records();
    const int status = rec::list_read(file, rec::ListSource::External, rec::ItemCursor(items.groups));
    check_status(status);
    if (file.records() == before) fuzz::fault("a read took no record while records were left");
    last_status = status;
  }
  // Reads of one text item through the whole file leave what one pass over
  // its bytes finds, also when the pass takes the bytes in two pieces. (The
  // line source takes CR bytes off a last line without LF as well, which a
  // unit's file does not.)
  const rec::ItemGroup& only = items.groups[0];
  if (count == 1 && only.kind == rec::ItemKind::Text && file.exhausted() && !bytes.empty() && bytes.back() != '\r') {
    rec::TextReadsScan scan;
    const std::size_t cut = (static_cast<std::size_t>(head) * 131) % (bytes.size() + 1);
    scan.take(bytes.substr(0, cut));
    scan.take(bytes.substr(cut));
    const rec::TextReadsScan::Outcome outcome = scan.outcome();
    std::string text(only.length, '\0');
    if (outcome.assigned) tarvello::TextRef{text.data(), text.size()}.assign(outcome.text);
    if (outcome.status != last_status ||
        std::string_view(static_cast<const char*>(only.base), only.length) != text)
      fuzz::fault("one pass over the file differs from its reads");
  }
  // Once the records are used up, a read finds the end of the file.
  const int status = rec::list_read(file, rec::ListSource::External, rec::ItemCursor(items.groups));
  if (status != rec::kEndOfFile) fuzz::fault("a read after the last record gave " + std::to_string(status));
  return 0;
}
