// The whole program on a mutated working directory, in process.
//
// Input: one option byte (bit 0: no `debug` directory, bit 1: no `level`
// directory), then up to six sections separated by the byte 0x1E:
//   the command-line argument, the configuration, the station list, the
//   hourly source file, the run report, the yearly level file.
// A section that is not there leaves its file out (no argument at all for the
// first). The configuration goes under the name that the argument gives it;
// the hourly source and yearly level files under the names that the
// configuration gives them.
//
// Each input runs in a fresh scratch directory, as the program runs in a
// model's working directory: ORVISTAD, then the ending exactly as the process
// entry makes it. Checked: the run ends by returning or by a RunEnd, never by
// another exception, and with an exit status from the documented set; the run
// report still begins with every byte it held before; no temporary file of a
// file being replaced is left behind.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "area_tarvello.h"
#include "fuzz_support.h"
#include "record/edit_output.h"
#include "record/number_input.h"
#include "steps.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace at = area_tarvello;

constexpr char kSeparator = '\x1e';
// Larger location counts only make every run slower: each adds a column to
// five tables of thousands of lines.
constexpr std::int32_t kMaxLocations = 8;

std::string g_work;  // the scratch working directory
int g_home = -1;     // the directory to come back to after a run
int g_stderr = -1;   // standard error as the fuzzer has it
int g_null = -1;     // /dev/null

// The shared model-area data back in its initial state, as a new process has it.
void reset_shared_data() {
  at::FLN.clear();
  at::GNAME.clear();
  at::COLUMN_UNITS.clear();
  at::COLUMN_TYPE.clear();
  at::XSTA.clear();
  at::YSTA.clear();
  at::XSTA1.clear();
  at::YSTA1.clear();
  at::OUTARRAY = tarvello::RealTable();
  at::COORDSYS_TEMP = tarvello::Text<10>();
  at::ELLIPSOID = tarvello::Text<10>();
  at::WRITTEN_BY = tarvello::Text<40>();
  at::SERIES_NAME = tarvello::Text<40>();
  at::SOURCE_FILE_NAME = tarvello::Text<30>();
  at::NO_DATA_VALUE = 0.0f;
  at::UNIT_CONVERSION = 0.0f;
  at::DELTA_T = at::UTM_ZONE = at::START_YEAR = at::START_MONTH = at::START_DAY = at::START_HOUR = 0;
  at::TB0_COLUMN_COUNT = at::TB0_ROW_COUNT = at::HAS_SECOND_LOCATION = 0;
}

// A name that the run may create or replace: inside the working directory
// (an empty name makes nothing).
bool inside(const std::string& name) {
  if (!name.empty() && name[0] == '/') return false;
  for (std::size_t b = 0; b <= name.size();) {
    std::size_t e = name.find('/', b);
    if (e == std::string::npos) e = name.size();
    if (name.compare(b, e - b, "..") == 0 && e - b == 2) return false;
    b = e + 1;
  }
  return true;
}

void write_file(const std::string& name, std::string_view bytes) {
  if (name.find('\0') != std::string::npos) return;
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;  // the name cannot be made here: the run meets that too
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t k = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (k <= 0) break;
    done += static_cast<std::size_t>(k);
  }
  ::close(fd);
}

// The configuration as the run reads it: its second and third records name
// the hourly source and yearly level files (columns 13 to 72), then a
// free-form read takes a name and the location count.
struct Configuration {
  std::string source_name, level_name;
  bool count_read = false;
  std::int32_t count = 0;
};

Configuration configuration(std::string_view bytes) {
  Configuration c;
  fuzz::LineSource file(bytes);
  std::string_view record;
  std::string names[2];
  file.next(record);
  for (std::string& name : names) {
    if (!file.next(record)) record = {};
    std::string field = record.size() > 12 ? std::string(record.substr(12, 60)) : std::string();
    name = rec::platform_name(field);
  }
  c.source_name = names[0];
  c.level_name = names[1];
  tarvello::Text<12> junk;
  auto g = rec::input_items(junk, c.count);
  c.count_read = rec::list_read(file, rec::ListSource::External, rec::ItemCursor(g)) == 0;
  return c;
}

// The configuration file's name: the year of the argument's first four
// characters right-justified in four, then "_Orvistad.cfg".
std::string configuration_name(std::string_view argument) {
  std::string field(argument.substr(0, 4));
  field.resize(4, ' ');
  std::int32_t year = 0;
  if (rec::fixed_read_integer(field, year) != 0) return {};
  char digits[4];
  rec::edit_integer(digits, year, 4, 1);
  return std::string(digits, 4) + "_Orvistad.cfg";
}

bool documented_status(int status) {
  switch (status) {
    case 0:      // normal end
    case 1:      // a stop
    case 99999:  // the hourly source file is missing
    case 9:
    case 24:
    case 29:
    case 30:
    case 38:
    case 43:
    case 59:
    case 64:
      return true;
    default:
      return false;
  }
}

std::string read_file(const std::string& name) {
  std::string bytes;
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t k = ::read(fd, buffer, sizeof buffer);
    if (k <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(k));
  }
  ::close(fd);
  return bytes;
}

// The yearly level file is replaced whole through a temporary file beside it,
// which no ending may leave behind.
void check_left_behind(const std::string& level_name) {
  // A name with a zero byte opens nothing.
  if (level_name.empty() || level_name.find('\0') != std::string::npos) return;
  const std::string temp = level_name + ".orvistad.tmp";
  if (fs::exists(temp)) fuzz::fault("left behind: " + temp);
}

// Whether a configured name is the run report itself.
bool is_run_report(const std::string& name) { return fs::path(name).lexically_normal() == fs::path("runReport.txt"); }

void clear_work_directory() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(g_work, ec)) fs::remove_all(entry.path(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The run's console goes nowhere; standard error only around the run's
  // ending, which writes its line there. Sanitizer reports keep a copy of
  // the real standard error.
  g_null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  g_stderr = ::dup(STDERR_FILENO);
  ::dup2(g_null, STDOUT_FILENO);
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(g_stderr)));
  // A FORTnnn variable would send a unit's default file elsewhere.
  std::vector<std::string> fort;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("FORT")) fort.emplace_back(entry.substr(0, entry.find('=')));
  }
  for (const std::string& name : fort) ::unsetenv(name.c_str());

  // Runs go to a memory file system when there is one. A crash leaves its
  // scratch directory behind, so tools/fuzz.sh names a directory of its own.
  const char* scratch = std::getenv("ORVISTAD_FUZZ_SCRATCH");
  std::string base = scratch != nullptr && *scratch != '\0' ? scratch
                     : fs::exists("/dev/shm")               ? "/dev/shm"
                                                            : fs::temp_directory_path().string();
  std::string templ = base + "/orvistad-fuzz-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) fuzz::fault("no scratch directory");
  g_work = templ;
  g_home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(g_work, ec);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t options = in.byte();
  const std::string_view rest = in.rest();
  std::vector<std::string_view> sections;
  for (std::size_t b = 0; b <= rest.size() && !rest.empty();) {
    std::size_t e = rest.find(kSeparator, b);
    if (e == std::string_view::npos) e = rest.size();
    sections.push_back(rest.substr(b, e - b));
    b = e + 1;
  }
  auto section = [&](std::size_t k) { return k < sections.size() ? sections[k] : std::string_view(); };
  auto present = [&](std::size_t k) { return k < sections.size(); };

  const bool has_argument = present(0);
  std::string argument(section(0).substr(0, section(0).find('\0')));
  const Configuration config = configuration(section(1));
  // Every name that the run writes must lie inside the scratch directory, and
  // the tables must stay small enough for many runs a second.
  if (!inside(config.source_name) || !inside(config.level_name)) return 0;
  if (config.count_read && config.count > kMaxLocations) return 0;

  clear_work_directory();
  if (::chdir(g_work.c_str()) != 0) fuzz::fault("cannot enter the scratch directory");
  if ((options & 1) == 0) ::mkdir("debug", 0755);
  if ((options & 2) == 0) ::mkdir("level", 0755);
  const std::string config_name = configuration_name(has_argument ? argument : std::string());
  if (present(1) && !config_name.empty()) write_file(config_name, section(1));
  if (present(2)) write_file("level_station_list.xyz", section(2));
  if (present(3)) write_file(config.source_name, section(3));
  if (present(4)) write_file("runReport.txt", section(4));
  if (present(5)) write_file(config.level_name, section(5));

  reset_shared_data();
  int status = 0;
  {
    rec::Units units;
    auto finish = [&](const rec::RunEnd* ending) {
      ::dup2(g_null, STDERR_FILENO);
      status = units.end_run(ending);
      ::dup2(g_stderr, STDERR_FILENO);
    };
    try {
      orvistad::RunState rs(units);
      if (has_argument) rs.argument = argument;
      orvistad::ORVISTAD(rs);
      finish(nullptr);
    } catch (const rec::RunEnd& ending) {
      finish(&ending);
    }
  }
  if (present(4) && !is_run_report(config.source_name) && !is_run_report(config.level_name) &&
      !read_file("runReport.txt").starts_with(section(4)))
    fuzz::fault("the run report lost some of its earlier bytes");
  if (config.source_name != config.level_name + ".orvistad.tmp") check_left_behind(config.level_name);
  if (::fchdir(g_home) != 0) fuzz::fault("cannot leave the scratch directory");
  if (!documented_status(status)) fuzz::fault("exit status " + std::to_string(status));
  return 0;
}
