#include "record/run_end.h"

#include <string>

namespace rec {

namespace {

const char* message_text(int number) {
  switch (number) {
    case failure::kPermission: return "permission to access file denied";
    case failure::kEndOfFile: return "end-of-file during read";
    case failure::kFileNotFound: return "file not found";
    case failure::kOpenFailure: return "open failure";
    case failure::kWriteError: return "error during write";
    case failure::kReadError: return "error during read";
    case failure::kFileName: return "invalid file name";
    case failure::kSyntax: return "list-directed I/O syntax error";
    case failure::kConversion: return "input conversion error";
    case failure::kFormatCount: return "variable format expression value error";
    default: return "input/output error";
  }
}

}  // namespace

void stop() { throw RunEnd{kStopExitStatus, false, {}}; }

void stop(std::string_view text) { throw RunEnd{kStopExitStatus, true, std::string(text)}; }

void stop_number(int number) { throw RunEnd{number, true, std::to_string(number)}; }

std::string failure_line(int number, int unit, std::string_view file) {
  std::string line = "forrtl: severe (";
  line += std::to_string(number);
  line += "): ";
  line += message_text(number);
  line += ", unit ";
  line += std::to_string(unit);
  line += ", file ";
  line += file;
  return line;
}

void fail(int number, int unit, std::string_view file) {
  throw RunEnd{number, true, failure_line(number, unit, file)};
}

}  // namespace rec
