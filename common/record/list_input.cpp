// Free-form input: the tokenizer that fills a read's items from its records.
#include "record/list_input.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace rec {

namespace {

constexpr char kEndOfFileMark = 26;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool ends_token(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

// An unsigned count r > 0 before '*' repeats the value that follows it r
// times. Returns r, with `at` moved past the '*', or 0 where the value at
// `at` has no count.
long repeat_count(std::string_view record, std::size_t& at) {
  std::size_t digits_end = at;
  while (digits_end < record.size() && record[digits_end] >= '0' && record[digits_end] <= '9') ++digits_end;
  if (digits_end == at || digits_end == record.size() || record[digits_end] != '*') return 0;
  long r = 0;
  for (std::size_t k = at; k < digits_end && r <= 1000000000; ++k) r = r * 10 + (record[k] - '0');
  if (r > 0) at = digits_end + 1;
  return r;
}

bool is_quote(char c) { return c == '\'' || c == '"'; }

// Whether the n bytes at p are those at q, compared eight at a time: the
// tokens compared are a few bytes long.
bool same_bytes(const char* p, const char* q, std::size_t n) {
  std::size_t k = 0;
  for (; k + 8 <= n; k += 8) {
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, p + k, 8);
    std::memcpy(&b, q + k, 8);
    if (a != b) return false;
  }
  for (; k < n; ++k)
    if (p[k] != q[k]) return false;
  return true;
}

class Tokenizer {
 public:
  Tokenizer(RecordSource& source, ListSource kind) : source_(source), kind_(kind) {}

  // Moves to the next record; a record of the single character 26 ends the
  // file for this read.
  bool fetch() {
    if (!source_.next(record_)) return false;
    if (kind_ == ListSource::External && record_.size() == 1 && record_[0] == kEndOfFileMark) return false;
    at_ = 0;
    return true;
  }

  int read(ItemCursor& items) {
    if (!fetch()) return kEndOfFile;
    bool comma_seen = true;  // a comma before the first value is a null value
    while (!items.done()) {
      if (items.run().kind == ItemKind::Real) {
        if (int st = read_reals(items, comma_seen); st != 0) return st;
        if (items.done()) break;
      }
      // Find the next value, passing over separators and null values.
      for (;;) {
        while (at_ < record_.size() && is_blank(record_[at_])) ++at_;
        if (at_ == record_.size()) {
          if (!fetch()) return kEndOfFile;
          continue;
        }
        char c = record_[at_];
        if (c == '/') return 0;
        if (c != ',') break;
        ++at_;
        if (comma_seen) {
          items.next();  // a null value leaves its item as it is
          if (items.done()) return 0;
        }
        comma_seen = true;
      }
      comma_seen = false;

      long repeat = 1;
      if (const long r = repeat_count(record_, at_); r > 0) {
        repeat = r;
        if (at_ == record_.size() || ends_token(record_[at_])) {
          // r* alone stands for r null values.
          for (long k = 0; k < repeat && !items.done(); ++k) items.next();
          continue;
        }
      }

      // A quoted value is text; for a number item the token ends at the
      // next separator or slash like any number token, and the item is not
      // converted.
      const bool quoted = is_quote(record_[at_]);
      std::string_view value;
      if (quoted && items.run().kind == ItemKind::Text) {
        if (int st = read_quoted(value); st != 0) return st;
      } else {
        if (quoted) ++at_;
        const std::size_t b = at_;
        while (at_ < record_.size() && !ends_token(record_[at_])) ++at_;
        value = record_.substr(b, at_ - b);
      }

      static_assert(sizeof(float) == sizeof(std::int32_t));
      // The value is converted once; further numbers of its kind take a
      // copy of the first one.
      const Item first = items.next();
      if (int st = assign(first, value, quoted); st != 0) return st;
      for (long k = 1; k < repeat && !items.done(); ++k) {
        const Item item = items.next();
        if (item.kind == first.kind && item.kind != ItemKind::Text) {
          std::memcpy(item.at, first.at, sizeof(float));
        } else if (int st = assign(item, value, quoted); st != 0) {
          return st;
        }
      }
    }
    return 0;
  }

 private:
  // Reads a run of real items from the value tokens of the current record
  // that stand between blanks, as long as there are such tokens: it stops
  // before a separator comma or slash, a quote, a token with a '*' (a repeat
  // count, or a bad token that the steps above report in their own way) and
  // at the end of the record, leaving whatever follows to the general steps.
  // Returns the status of the last value read.
  int read_reals(ItemCursor& items, bool& comma_seen) {
    const ItemCursor::Run run = items.run();
    float* item = reinterpret_cast<float*>(run.at);
    const std::size_t stride = run.stride / sizeof(float);
    const char* const text = record_.data();
    const char* const end = text + record_.size();
    std::size_t taken = 0;
    int status = 0;
    while (taken < run.count && status == 0) {
      const char* first = text + at_;
      while (first != end && is_blank(*first)) ++first;
      // A token that repeats the plain decimal before it (a run of missing
      // values) takes its value again; most others are plain decimals,
      // converted as they are scanned.
      const std::size_t left = static_cast<std::size_t>(end - first);
      float value = 0.0f;
      const char* stop = nullptr;
      if (last_size_ != 0 && left >= last_size_ && same_bytes(first, last_token_, last_size_) &&
          (left == last_size_ || ends_token(first[last_size_]))) {
        value = last_value_;
        stop = first + last_size_;
      } else {
        stop = scan_plain_decimal(first, end, value);
        if (stop != nullptr && stop != end && !ends_token(*stop)) stop = nullptr;  // no plain decimal
        if (stop != nullptr && static_cast<std::size_t>(stop - first) <= sizeof last_token_) {
          last_size_ = static_cast<std::size_t>(stop - first);
          std::memcpy(last_token_, first, last_size_);
          last_value_ = value;
        }
      }
      if (stop != nullptr) {
        *item = value;
      } else {
        stop = first;
        while (stop != end && !ends_token(*stop) && *stop != '*') ++stop;
        if (stop == first || (stop != end && *stop == '*') || is_quote(*first)) break;
        status = list_read_real(std::string_view(first, static_cast<std::size_t>(stop - first)), false, kind_,
                                *item);
      }
      at_ = static_cast<std::size_t>(stop - text);
      comma_seen = false;
      ++taken;
      item += stride;
    }
    items.skip(taken);
    return status;
  }

  // A quoted value: a doubled quote stands for one, a record end adds
  // nothing, and what follows the closing quote up to the next separator is
  // passed over.
  int read_quoted(std::string_view& value) {
    char quote = record_[at_++];
    text_.clear();
    for (;;) {
      if (at_ == record_.size()) {
        if (!fetch()) return kEndOfFile;
        continue;
      }
      char c = record_[at_++];
      if (c == quote) {
        if (at_ < record_.size() && record_[at_] == quote) {
          text_ += quote;
          ++at_;
          continue;
        }
        break;
      }
      text_ += c;
    }
    while (at_ < record_.size() && !ends_token(record_[at_])) ++at_;
    value = text_;
    return 0;
  }

  int assign(const Item& item, std::string_view value, bool quoted) {
    switch (item.kind) {
      case ItemKind::Text:
        if (value.size() > kListTextLimit) return kSyntaxError;
        item.text_ref().assign(value);
        return 0;
      case ItemKind::Integer:
        return list_read_integer(value, quoted, kind_, item.integer());
      case ItemKind::Real:
        return list_read_real(value, quoted, kind_, item.real());
    }
    return 0;
  }

  RecordSource& source_;
  ListSource kind_;
  // The latest plain decimal token of read_reals and its value.
  char last_token_[24];
  std::size_t last_size_ = 0;
  float last_value_ = 0.0f;
  std::string_view record_;
  std::size_t at_ = 0;
  std::string text_;
};

}  // namespace

int list_read(RecordSource& source, ListSource kind, ItemCursor items) {
  Tokenizer t(source, kind);
  return t.read(items);
}

// ---------------------------------------------------------------------------
// The reads of one text item each, through a whole file, as one pass.

void TextReadsScan::restart() { *this = TextReadsScan(); }

void TextReadsScan::take(std::string_view bytes) {
  taken_ += bytes.size();
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p != end) {
    if (at_ == At::Rest) {
      // What follows a read's value on its record is passed over.
      const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      if (lf == nullptr) return;
      p = static_cast<const char*>(lf);
    }
    const char c = *p++;
    if (c == '\n') {
      // The CR bytes just before a line end belong to no record.
      crs_ = 0;
      end_record();
    } else if (c == '\r') {
      ++crs_;
    } else {
      for (; crs_ > 0; --crs_) put('\r');
      put(c);
    }
  }
}

TextReadsScan::Outcome TextReadsScan::outcome() const {
  // A last record without a line end is a record too, its CR bytes
  // included, but only for now: the bytes that may follow belong to it.
  TextReadsScan last = *this;
  for (; last.crs_ > 0; --last.crs_) last.put('\r');
  if (last.at_ != At::Start) last.end_record();
  // A read that the end of the file cut short ends with the end of the file.
  if (last.phase_ != Phase::Between) last.seen_.status = kEndOfFile;
  return last.seen_;
}

// One byte of a record, other than a line end.
void TextReadsScan::put(char c) {
  switch (at_) {
    case At::Start:
      if (phase_ == Phase::Between) phase_ = Phase::Seeking;
      if (c == kEndOfFileMark) {
        at_ = At::Mark;
        return;
      }
      at_ = phase_ == Phase::Quoted ? At::Quote : At::Blanks;
      return put(c);
    case At::Mark:
      // More than the character 26 alone: an ordinary record.
      at_ = phase_ == Phase::Quoted ? At::Quote : At::Blanks;
      put(kEndOfFileMark);
      return put(c);
    case At::Blanks:
      if (is_blank(c)) return;
      // The first value of the read: a slash ends the read and a comma is a
      // null value, which leave the text as it is; digits may be a count.
      phase_ = Phase::Between;
      seen_.status = 0;
      if (c == '/' || c == ',') {
        at_ = At::Rest;
      } else if (c >= '0' && c <= '9') {
        value_.assign(1, c);
        counted_ = c != '0';
        at_ = At::Count;
      } else {
        start_value(c);
      }
      return;
    case At::Count:
      if (c >= '0' && c <= '9') {
        keep(c);
        counted_ = counted_ || c != '0';
      } else if (c == '*' && counted_) {
        at_ = At::Counted;
      } else {
        at_ = At::Token;  // the digits begin a value of their own
        put(c);
      }
      return;
    case At::Counted:
      // r* alone stands for null values.
      if (ends_token(c)) at_ = At::Rest;
      else start_value(c);
      return;
    case At::Token:
      if (ends_token(c)) {
        assign();
        at_ = At::Rest;
      } else {
        keep(c);
      }
      return;
    case At::Quote:
      if (c == quote_) at_ = At::QuoteEnd;
      else keep(c);
      return;
    case At::QuoteEnd:
      // A doubled quote stands for one; else the quotation has closed.
      if (c == quote_) {
        keep(c);
        at_ = At::Quote;
      } else {
        close_quote();
      }
      return;
    case At::Rest:
      return;
  }
}

void TextReadsScan::end_record() {
  switch (at_) {
    case At::Start:  // an empty record
      if (phase_ == Phase::Between) phase_ = Phase::Seeking;
      break;
    case At::Mark:  // the character 26 alone ends the file for the read
      phase_ = Phase::Between;
      seen_.status = kEndOfFile;
      break;
    case At::Count:
    case At::Token:
      assign();
      break;
    case At::QuoteEnd:  // a quote at the end of a record closes the quotation
      close_quote();
      break;
    case At::Blanks:  // a blank record: the read goes on with the next one
    case At::Counted:
    case At::Quote:   // the end of a record adds nothing to a quotation
    case At::Rest:
      break;
  }
  at_ = At::Start;
}

void TextReadsScan::start_value(char c) {
  value_.clear();
  if (is_quote(c)) {
    quote_ = c;
    phase_ = Phase::Quoted;
    at_ = At::Quote;
  } else {
    keep(c);
    at_ = At::Token;
  }
}

void TextReadsScan::close_quote() {
  phase_ = Phase::Between;
  assign();
  at_ = At::Rest;
}

// A value is kept up to one byte past the longest that a read takes.
void TextReadsScan::keep(char c) {
  if (value_.size() <= kListTextLimit) value_ += c;
}

void TextReadsScan::assign() {
  if (value_.size() > kListTextLimit) {
    seen_.status = kSyntaxError;
    return;
  }
  seen_.assigned = true;
  seen_.text = value_;
}

}  // namespace rec
