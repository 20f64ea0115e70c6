#include <gtest/gtest.h>

#include "support/Transcript.h"

// Velkit is one-shot: each transcript is a sequence of runs on one copy of a
// scene, so a run sees what the runs before it wrote.

namespace {

using nolari::test::runTranscript;
using nolari::test::transcriptsOf;
using nolari::test::transcriptTestName;

class VelkitTranscript : public testing::TestWithParam<std::string> {};

TEST_P(VelkitTranscript, RunsAsWritten) { runTranscript("velkit", GetParam()); }

INSTANTIATE_TEST_SUITE_P(Transcripts, VelkitTranscript, testing::ValuesIn(transcriptsOf("velkit")),
                         transcriptTestName);

}  // namespace
