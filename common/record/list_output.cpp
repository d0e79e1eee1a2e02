// Free-form output: lines of at most 80 characters laid out from a write's items.
#include "record/list_output.h"

#include "record/edit_output.h"

namespace rec {

namespace {

// One free-form write in progress. Every line starts with its leading blank
// pending: a text that starts a line gets one blank before it.
class ListLine {
 public:
  explicit ListLine(std::string& out) : out_(out), start_(out.size()) {}

  void number(const Item& item) {
    std::size_t w = item.kind == ItemKind::Integer ? kListIntegerWidth : kListRealWidth;
    if (room() < w) new_line();
    std::size_t at = out_.size();
    out_.resize(at + w);
    if (item.kind == ItemKind::Integer) edit_integer(out_.data() + at, item.integer(), static_cast<int>(w), 1);
    else edit_list_real(out_.data() + at, item.real());
    pending_blank_ = false;
    after_number_ = true;
  }

  void text(std::string_view t) {
    std::size_t room_before = room();
    bool had_characters = length() > 0;
    if (pending_blank_) {
      out_ += ' ';
      pending_blank_ = false;
    } else if (after_number_ && room() > 0) {
      out_ += ' ';
    }
    after_number_ = false;
    if (t.size() > room_before && had_characters) {
      // Too long for what is left of this line: it goes to a line of its own.
      new_line();
      out_ += ' ';
      pending_blank_ = false;
    }
    // Whatever does not fit is cut and continues on further lines.
    while (t.size() > room()) {
      std::size_t part = room();
      out_.append(t.substr(0, part));
      t.remove_prefix(part);
      new_line();
      out_ += ' ';
      pending_blank_ = false;
    }
    out_.append(t);
  }

  void finish() {
    if (length() == 0) out_ += ' ';
    out_ += "\r\n";
  }

 private:
  std::size_t length() const { return out_.size() - start_; }
  std::size_t room() const { return kListLineLimit - length(); }
  void new_line() {
    out_ += "\r\n";
    start_ = out_.size();
    pending_blank_ = true;
    after_number_ = false;
  }

  std::string& out_;
  std::size_t start_;
  bool pending_blank_ = true;
  bool after_number_ = false;
};

}  // namespace

void list_write(std::string& out, ItemCursor items) {
  ListLine line(out);
  while (!items.done()) {
    Item item = items.next();
    if (item.kind == ItemKind::Text) line.text(item.text());
    else line.number(item);
  }
  line.finish();
}

}  // namespace rec
