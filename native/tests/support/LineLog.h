#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The lines a test exchanges with one of the four programs, kept for the
// protocol check (native/tests/protocol). When NOLARI_TEST_LINE_LOG names a
// directory, each run of a program writes one file there, one JSON object per
// line: first {"program", "args", "test", "input_checked"}, then {"in": line}
// for each line sent and {"out": line} for each line the program wrote.
// `input_checked` says that the lines sent are meant as well-formed commands,
// which the check then holds to the command schemas.

namespace nolari::test {

class LineLog {
 public:
  // Null when no log is asked for, or `programPath` is not one of the programs.
  static std::unique_ptr<LineLog> open(const std::string& programPath,
                                       const std::vector<std::string>& args, bool inputChecked);
  ~LineLog();

  LineLog(const LineLog&) = delete;
  LineLog& operator=(const LineLog&) = delete;

  // Bytes to the program's standard input, split at line feeds; a piece
  // without one waits for the rest, or for the end of the log.
  void sent(std::string_view bytes);
  void received(std::string_view line);

 private:
  explicit LineLog(const std::string& file) : file_(file) {}
  void record(const char* direction, std::string_view line);

  std::ofstream file_;
  std::string partialInput_;
};

}  // namespace nolari::test
