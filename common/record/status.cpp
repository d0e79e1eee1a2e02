// Failure numbers and their message texts.
#include "record/status.h"

#include <array>

namespace rec {

namespace {

struct FailureText {
  int number;
  std::string_view message;
};

constexpr std::array<FailureText, 10> kFailureTexts = {{
    {kPermissionDenied, "permission to access file denied"},
    {kEndOfFileDuringRead, "end-of-file during read"},
    {kFileNotFound, "file not found"},
    {kOpenFailure, "open failure"},
    {kWriteError, "error during write"},
    {kReadError, "error during read"},
    {kFileNameError, "file name specification error"},
    {kSyntaxError, "list-directed I/O syntax error"},
    {kConversionError, "input conversion error"},
    {kFormatCountError, "variable format expression value error"},
}};

}  // namespace

std::string_view failure_message(int number) {
  for (const FailureText& t : kFailureTexts)
    if (t.number == number) return t.message;
  return "input/output error";
}

std::string failure_line(int number, int unit, std::string_view file) {
  std::string line = "forrtl: severe (";
  line += std::to_string(number);
  line += "): ";
  line += failure_message(number);
  line += ", unit ";
  line += std::to_string(unit);
  line += ", file ";
  line += file;
  return line;
}

}  // namespace rec
