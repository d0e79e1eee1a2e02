// Record layouts: parsing a layout once, and the interpreter that writes and reads records with it.
#include "record/format.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "record/edit_output.h"
#include "record/number_input.h"
#include "record/status.h"

namespace rec {

namespace {

[[noreturn]] void bad_layout(std::string_view text, const char* why) {
  throw std::invalid_argument(std::string("bad record layout ") + std::string(text) + ": " + why);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) { return (c >= 'a' && c <= 'z') || c == '_'; }

// A layout whose records take no item while items remain would go on making
// records without end: that is a programming error.
void check_progress(const Format& f, bool more, std::size_t before, std::size_t after) {
  if (more && before == after) throw std::invalid_argument("layout " + f.text() + " takes no item of those left");
}

}  // namespace

Format::Format(std::string_view text) : text_(text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size() || text[i] != '(') bad_layout(text, "no opening parenthesis");
  parse_list(text, i, true);
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) bad_layout(text, "characters after the closing parenthesis");
}

int Format::name_index(std::string_view name) const {
  for (int k = 0; k < name_count_; ++k)
    if (names_[k] == name) return k;
  return -1;
}

std::size_t Format::parse_list(std::string_view s, std::size_t& i, bool top) {
  ++i;  // the opening parenthesis
  auto skip_blanks = [&] {
    while (i < s.size() && s[i] == ' ') ++i;
  };
  auto read_number = [&] {
    int v = 0;
    if (i >= s.size() || !is_digit(s[i])) bad_layout(s, "number expected");
    while (i < s.size() && is_digit(s[i])) v = v * 10 + (s[i++] - '0');
    return v;
  };
  for (;;) {
    skip_blanks();
    if (i >= s.size()) bad_layout(s, "unclosed parenthesis");
    if (s[i] == ')') {
      ++i;
      return edits_.size();
    }
    Edit e{};
    e.kind = Edit::Literal;
    if (s[i] == '\'') {
      // A literal, with '' standing for one apostrophe.
      e.literal_at = static_cast<std::uint32_t>(literals_.size());
      for (++i;; ++i) {
        if (i >= s.size()) bad_layout(s, "unclosed literal");
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            literals_ += '\'';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        literals_ += s[i];
      }
      e.literal_size = static_cast<std::uint32_t>(literals_.size()) - e.literal_at;
      edits_.push_back(e);
    } else {
      // Optional repeat count: digits, a name, or <name>.
      bool counted = false;
      if (is_digit(s[i])) {
        e.repeat = read_number();
        counted = true;
      } else if (is_name_char(s[i]) || s[i] == '<') {
        bool bracketed = s[i] == '<';
        if (bracketed) ++i;
        std::size_t b = i;
        while (i < s.size() && is_name_char(s[i])) ++i;
        std::string_view name = s.substr(b, i - b);
        if (name.empty()) bad_layout(s, "empty repeat count name");
        if (bracketed) {
          if (i >= s.size() || s[i] != '>') bad_layout(s, "unclosed <name>");
          ++i;
        }
        e.name = name_index(name);
        if (e.name < 0) {
          if (name_count_ == kMaxNames) bad_layout(s, "too many repeat count names");
          names_[name_count_] = std::string(name);
          e.name = name_count_++;
        }
        counted = true;
      }
      skip_blanks();
      if (i >= s.size()) bad_layout(s, "descriptor expected");
      char c = s[i];
      if (c == '(') {
        e.kind = Edit::Group;
        std::size_t at = edits_.size();
        edits_.push_back(e);
        if (top) reversion_ = at;
        parse_list(s, i, false);
        edits_[at].end = static_cast<int>(edits_.size());
      } else if (c == 'X') {
        if (!counted || e.name >= 0) bad_layout(s, "X needs a number of positions");
        ++i;
        e.kind = Edit::X;
        e.width = e.repeat;
        e.repeat = 1;
        edits_.push_back(e);
      } else if (c == 'A' || c == 'I' || c == 'F' || c == 'E') {
        ++i;
        e.kind = c == 'A' ? Edit::A : c == 'I' ? Edit::I : c == 'F' ? Edit::F : Edit::E;
        if (i < s.size() && is_digit(s[i])) e.width = read_number();
        if (i < s.size() && s[i] == '.') {
          ++i;
          e.digits = read_number();
        }
        if (e.kind != Edit::A && e.width == 0) bad_layout(s, "field width expected");
        if ((e.kind == Edit::F || e.kind == Edit::E) && e.width == 0) bad_layout(s, "F and E need w.d");
        edits_.push_back(e);
      } else {
        bad_layout(s, "unknown descriptor");
      }
    }
    skip_blanks();
    if (i < s.size() && s[i] == ',') ++i;
    else if (i >= s.size() || s[i] != ')') bad_layout(s, "comma or closing parenthesis expected");
  }
}

BoundFormat BoundFormat::with(std::string_view name, int value) const {
  int k = format_->name_index(name);
  if (k < 0) throw std::invalid_argument("layout " + format_->text() + " has no count " + std::string(name));
  BoundFormat b = *this;
  b.counts_[k] = value;
  return b;
}

// ---------------------------------------------------------------------------
// Output

void FormattedWriter::pad() {
  std::size_t want = start_ + pos_;
  if (out_->size() < want) out_->append(want - out_->size(), ' ');
}

namespace {

bool is_real_edit(const Edit& e) { return e.kind == Edit::F || e.kind == Edit::E; }

// The real field that makes up the whole body of a group, alone or after nX
// (whose width goes to `gap`), as in 9999(F12.3) or 9999(1X,F11.3); null for
// any other body.
const Edit* lone_real_field(const BoundFormat& f, std::size_t group, std::size_t& gap) {
  const std::vector<Edit>& edits = f.format().edits();
  const std::size_t first = group + 1;
  const std::size_t end = static_cast<std::size_t>(edits[group].end);
  gap = 0;
  std::size_t at = first;
  if (end - first == 2 && edits[first].kind == Edit::X) {
    gap = static_cast<std::size_t>(edits[first].width);
    at = first + 1;
  } else if (end - first != 1) {
    return nullptr;
  }
  const Edit& e = edits[at];
  return is_real_edit(e) && f.count(e) == 1 ? &e : nullptr;
}

}  // namespace

// The fields of one real edit for as many of the next items as are reals of
// one group, at most `limit`, each after `gap` blanks. The record grows once
// for all of them and each value is edited in place. Returns how many items
// it took: 0 when the next item is not a real (or there is none).
std::size_t FormattedWriter::real_run(const Edit& e, std::size_t gap, std::size_t limit) {
  if (limit == 0 || items_.done()) return 0;
  const ItemCursor::Run run = items_.run();
  if (run.kind != ItemKind::Real) return 0;
  const std::size_t k = std::min(limit, run.count);
  const std::size_t step = gap + static_cast<std::size_t>(e.width);
  pad();
  const std::size_t at = out_->size();
  out_->resize(at + k * step, ' ');
  char* field = out_->data() + at + gap;
  const float* values = reinterpret_cast<const float*>(run.at);
  const std::size_t stride = run.stride / sizeof(float);
  if (e.kind == Edit::F) {
    edit_fixed_each(field, step, values, stride, k, e.width, e.digits);
  } else {
    for (std::size_t r = 0; r < k; ++r, field += step, values += stride)
      edit_exponent(field, *values, e.width, e.digits);
  }
  items_.skip(k);
  taken_ += k;
  pos_ += k * step;
  return k;
}

void FormattedWriter::field(const Edit& e) {
  const Format& f = f_.format();
  Item item = items_.next();
  ++taken_;
  pad();
  std::size_t w = static_cast<std::size_t>(e.width);
  if (e.kind == Edit::A) {
    if (item.kind != ItemKind::Text) throw std::invalid_argument("A edit of a number in " + f.text());
    std::string_view t = item.text();
    if (w == 0) w = t.size();
    if (w > t.size()) {
      out_->append(w - t.size(), ' ');
      out_->append(t);
    } else {
      out_->append(t.substr(0, w));
    }
  } else {
    std::size_t at = out_->size();
    out_->resize(at + w);
    char* field = out_->data() + at;
    if (e.kind == Edit::I) {
      if (item.kind != ItemKind::Integer) throw std::invalid_argument("I edit of a non-integer in " + f.text());
      edit_integer(field, item.integer(), e.width, e.digits > 0 ? e.digits : 1);
    } else {
      if (item.kind != ItemKind::Real) throw std::invalid_argument("F/E edit of a non-real in " + f.text());
      if (e.kind == Edit::F) edit_fixed(field, item.real(), e.width, e.digits);
      else edit_exponent(field, item.real(), e.width, e.digits);
    }
  }
  pos_ += w;
}

FormattedWriter::Flow FormattedWriter::run(std::size_t begin, std::size_t end) {
  const Format& f = f_.format();
  const std::vector<Edit>& edits = f.edits();
  for (std::size_t i = begin; i < end;) {
    const Edit& e = edits[i];
    switch (e.kind) {
      case Edit::Literal: {
        pad();
        out_->append(f.literal(e));
        pos_ += e.literal_size;
        ++i;
        continue;
      }
      case Edit::X:
        pos_ += static_cast<std::size_t>(e.width);
        ++i;
        continue;
      case Edit::Group: {
        int n = f_.count(e);
        if (n < 1) {
          // A count of 0 is allowed when no item is left for it: the record ends here.
          if (items_.done()) return Flow::End;
          throw TransferFailure{kFormatCountError};
        }
        // A body of one real field takes a run of reals in one go; what is
        // left (another kind of item, or none) goes through the body itself.
        std::size_t gap = 0;
        const Edit* real = lone_real_field(f_, i, gap);
        for (int r = 0; r < n;) {
          if (real != nullptr) {
            const std::size_t k = real_run(*real, gap, static_cast<std::size_t>(n - r));
            if (k > 0) {
              r += static_cast<int>(k);
              continue;
            }
          }
          if (run(i + 1, static_cast<std::size_t>(e.end)) == Flow::End) return Flow::End;
          ++r;
        }
        i = static_cast<std::size_t>(e.end);
        continue;
      }
      default:
        break;
    }
    int n = f_.count(e);
    if (n < 1) {
      if (items_.done()) return Flow::End;
      throw TransferFailure{kFormatCountError};
    }
    for (int r = 0; r < n;) {
      if (is_real_edit(e)) {
        const std::size_t k = real_run(e, 0, static_cast<std::size_t>(n - r));
        if (k > 0) {
          r += static_cast<int>(k);
          continue;
        }
      }
      if (items_.done()) return Flow::End;
      field(e);
      ++r;
    }
    ++i;
  }
  return Flow::Go;
}

bool FormattedWriter::next_record(std::string& out) {
  out_ = &out;
  start_ = out.size();
  pos_ = 0;
  const std::size_t size = f_.format().edits().size();
  const std::size_t from = first_ ? 0 : f_.format().reversion();
  first_ = false;
  const std::size_t before = taken_;
  if (run(from, size) == Flow::End) return false;
  check_progress(f_.format(), !items_.done(), before, taken_);
  return !items_.done();
}

void format_statement(const BoundFormat& f, ItemCursor items, std::string& out) {
  FormattedWriter writer(f, items);
  std::size_t record_start = out.size();
  try {
    bool more;
    do {
      record_start = out.size();
      more = writer.next_record(out);
      out += "\r\n";
    } while (more);
  } catch (const TransferFailure&) {
    // The record that failed is not written: files hold whole lines only.
    out.resize(record_start);
    throw;
  }
}

// ---------------------------------------------------------------------------
// Input

std::string_view FormattedReader::field(std::size_t w) {
  std::string_view f;
  if (pos_ < record_.size()) f = record_.substr(pos_, w);
  pos_ += w;
  if (f.size() == w) return f;
  // Positions beyond the record's end read as blanks.
  scratch_.assign(f);
  scratch_.append(w - f.size(), ' ');
  return scratch_;
}

FormattedReader::Flow FormattedReader::run(std::size_t begin, std::size_t end) {
  const Format& f = f_.format();
  const std::vector<Edit>& edits = f.edits();
  for (std::size_t i = begin; i < end;) {
    const Edit& e = edits[i];
    if (e.kind == Edit::Literal) {
      pos_ += e.literal_size;
      ++i;
      continue;
    }
    if (e.kind == Edit::X) {
      pos_ += static_cast<std::size_t>(e.width);
      ++i;
      continue;
    }
    int n = f_.count(e);
    if (n < 1) {
      if (items_.done()) return Flow::End;
      throw TransferFailure{kFormatCountError};
    }
    if (e.kind == Edit::Group) {
      for (int r = 0; r < n; ++r) {
        Flow fl = run(i + 1, static_cast<std::size_t>(e.end));
        if (fl != Flow::Go) return fl;
      }
      i = static_cast<std::size_t>(e.end);
      continue;
    }
    for (int r = 0; r < n; ++r) {
      if (items_.done()) return Flow::End;
      Item item = items_.next();
      ++taken_;
      if (e.kind == Edit::A) {
        if (item.kind != ItemKind::Text) throw std::invalid_argument("A edit of a number in " + f.text());
        std::size_t len = item.length;
        std::size_t w = e.width == 0 ? len : static_cast<std::size_t>(e.width);
        std::string_view fld = field(w);
        // A wider field keeps its last characters.
        item.text_ref().assign(w <= len ? fld : fld.substr(w - len));
      } else if (e.kind == Edit::I) {
        if (item.kind != ItemKind::Integer) throw std::invalid_argument("I edit of a non-integer in " + f.text());
        int st = fixed_read_integer(field(static_cast<std::size_t>(e.width)), item.integer());
        if (st != 0) {
          status_ = st;
          return Flow::Fail;
        }
      } else {
        throw std::invalid_argument("F and E input are not supported: " + f.text());
      }
    }
    ++i;
  }
  return Flow::Go;
}

bool FormattedReader::next_record(std::string_view record, int& status) {
  record_ = record;
  pos_ = 0;
  status_ = 0;
  const std::size_t from = first_ ? 0 : f_.format().reversion();
  first_ = false;
  const std::size_t before = taken_;
  Flow fl = run(from, f_.format().edits().size());
  status = status_;
  if (fl != Flow::Go) return false;
  check_progress(f_.format(), !items_.done(), before, taken_);
  return !items_.done();
}

}  // namespace rec
