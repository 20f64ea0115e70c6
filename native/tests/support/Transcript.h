#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Transcript tests: a built program run against a file of interleaved input
// and expected output, native/tests/<program>/transcripts/<name>.transcript.
// The format is described in the README, "Transcript tests". Each program
// declares one parameterised test over its folder:
//
//   class VelkitTranscript : public testing::TestWithParam<std::string> {};
//   TEST_P(VelkitTranscript, RunsAsWritten) { runTranscript("velkit", GetParam()); }
//   INSTANTIATE_TEST_SUITE_P(Transcripts, VelkitTranscript,
//                            testing::ValuesIn(transcriptsOf("velkit")), transcriptTestName);

namespace nolari::test {

// Every *.transcript file in the program's folder, sorted.
std::vector<std::string> transcriptsOf(const std::string& program);

// The test's name: the file name without its extension.
std::string transcriptTestName(const testing::TestParamInfo<std::string>& info);

// Runs one transcript, reporting each mismatch with its file and line.
void runTranscript(const std::string& program, const std::string& fileName);

}  // namespace nolari::test
