// The unit table: units connected to files, default files, closing, the run's ending.
#include "record/unit_table.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <new>

namespace rec {

namespace {

std::string default_file_name(int unit) {
  const std::string var = "FORT" + std::to_string(unit);
  const char* value = std::getenv(var.c_str());
  if (value != nullptr && *value != '\0') return value;
  return "fort." + std::to_string(unit);
}

}  // namespace

UnitTable::UnitTable() {
  char buffer[4096];
  if (::getcwd(buffer, sizeof buffer) != nullptr) directory_ = buffer;
  connections_.push_back({kConsole, "standard output", UnitFile::console()});
}

UnitTable::Connection* UnitTable::find(int unit) {
  for (Connection& c : connections_)
    if (c.unit == unit) return &c;
  return nullptr;
}

std::string UnitTable::full_path(std::string_view name) const {
  // The absolute path, lexically normal: no "." segments, no repeated "/",
  // "dir/.." resolved.
  return (std::filesystem::path(directory_) / platform_name(name)).lexically_normal().string();
}

void UnitTable::settle(UnitRef unit, int status) {
  if (unit.status != nullptr) {
    *unit.status = status;
    return;
  }
  if (status == 0) return;
  if (const Connection* c = find(unit.unit)) fail(status, c->unit, c->path);
  if (failed_unit_ == unit.unit && !failed_path_.empty()) fail(status, failed_unit_, failed_path_);
  fail(status, unit.unit, full_path(default_file_name(unit.unit)));
}

int UnitTable::connect(int unit, std::string_view given, OpenStatus status, OpenOptions options) {
  // A unit that is still connected is closed first, keeping its file.
  if (const int st = close_unit(unit); st != 0) return st;
  const std::string name = platform_name(given);
  const UnitFile::Mode mode = options.replace_whole   ? UnitFile::Mode::ReplaceWhole
                              : options.append            ? UnitFile::Mode::Append
                              : status == OpenStatus::Old ? UnitFile::Mode::Existing
                                                          : UnitFile::Mode::Create;
  std::unique_ptr<UnitFile> file;
  const int st = UnitFile::open(name, mode, options.read_only, file);
  if (st != 0) {
    failed_unit_ = unit;
    failed_path_ = full_path(name);
    return st;
  }
  connections_.push_back({unit, full_path(name), std::move(file)});
  return 0;
}

int UnitTable::disconnect(std::size_t index, bool commit) {
  Connection c = std::move(connections_[index]);
  connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
  const int st = c.file->close(commit);
  if (st != 0) {
    failed_unit_ = c.unit;
    failed_path_ = c.path;
  }
  return st;
}

void UnitTable::open(UnitRef unit, std::string_view name, OpenStatus status, OpenOptions options) {
  settle(unit, connect(unit.unit, name, status, options));
}

int UnitTable::close_unit(int unit) {
  if (unit == kConsole) return 0;
  for (std::size_t k = 0; k < connections_.size(); ++k)
    if (connections_[k].unit == unit) return disconnect(k, true);
  return 0;
}

void UnitTable::close(UnitRef unit) { settle(unit, close_unit(unit.unit)); }

bool UnitTable::exists(std::string_view name) {
  const std::string n = platform_name(name);
  if (n.empty() || n.find('\0') != std::string::npos) return false;
  struct stat st {};
  return ::stat(n.c_str(), &st) == 0;
}

void UnitTable::hold_while_replacing(std::string_view name) { rec::hold_while_replacing(platform_name(name)); }

bool UnitTable::at_end(UnitRef unit) {
  bool end = true;
  settle(unit, status_of([&] {
           UnitFile* file = nullptr;
           const int st = for_read(unit.unit, file);
           if (st == 0) end = file->at_end();
           return st;
         }));
  return end;
}

int UnitTable::for_read(int unit, UnitFile*& file) { return connected(unit, OpenStatus::Old, file); }

int UnitTable::for_write(int unit, UnitFile*& file, std::string*& out) {
  int st = connected(unit, OpenStatus::Unknown, file);
  out = st == 0 ? file->begin_write(st) : nullptr;
  return st;
}

int UnitTable::connected(int unit, OpenStatus default_status, UnitFile*& file) {
  file = nullptr;
  Connection* c = find(unit);
  if (c == nullptr) {
    if (const int st = connect(unit, default_file_name(unit), default_status, {}); st != 0) return st;
    c = &connections_.back();
  }
  file = c->file.get();
  return 0;
}

void UnitTable::flush_all() {
  for (Connection& c : connections_) {
    if (c.unit == kConsole) continue;
    if (const int st = c.file->flush(); st != 0) fail(st, c.unit, c.path);
  }
}

int UnitTable::end_run(const RunEnd* ending) noexcept {
  int status = ending == nullptr ? 0 : ending->exit_status;
  const bool commit = ending == nullptr;
  // Every unit is written out and closed, the console last, so that it shows
  // everything the run printed. The first unit that cannot be written out
  // adds its failure line, and its failure number becomes the exit status of
  // a normal end or a stop; a failure ending keeps its one line and status.
  // Either way the files stay as far as they were written.
  const bool already_failed = ending != nullptr && ending->failure;
  bool close_failed = false;
  std::string line;
  for (std::size_t k = connections_.size(); k-- > 0;) {
    if (connections_[k].unit == kConsole) continue;
    const int st = disconnect(k, commit);
    if (st == 0 || already_failed || close_failed) continue;
    close_failed = true;
    if (status <= kStopExitStatus) status = st;
    try {
      line = failure_line(st, failed_unit_, failed_path_);
    } catch (const std::bad_alloc&) {
      line.clear();
    }
  }
  if (Connection* console = find(kConsole)) console->file->close(false);
  if (ending != nullptr && ending->has_message) {
    write_all(STDERR_FILENO, ending->message);
    write_all(STDERR_FILENO, "\r\n");
  }
  if (close_failed) {
    write_all(STDERR_FILENO, line);
    write_all(STDERR_FILENO, "\r\n");
  }
  return status;
}

}  // namespace rec
