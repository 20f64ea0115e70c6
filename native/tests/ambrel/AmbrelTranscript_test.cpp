// The ambrel program on the simulated desktop: commands on standard input,
// keys and mouse moves on the control channel, and the lines it writes.

#include "support/Transcript.h"

namespace {

class AmbrelTranscript : public testing::TestWithParam<std::string> {};

TEST_P(AmbrelTranscript, RunsAsWritten) { nolari::test::runTranscript("ambrel", GetParam()); }

INSTANTIATE_TEST_SUITE_P(Transcripts, AmbrelTranscript,
                         testing::ValuesIn(nolari::test::transcriptsOf("ambrel")),
                         nolari::test::transcriptTestName);

}  // namespace
