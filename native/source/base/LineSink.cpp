#include "base/LineSink.h"

#include "base/JSONOutput.h"
#include "base/LineWriter.h"

namespace nolari {

void LineSink::emit(const nlohmann::json& object) { writeLine(JSONOutput::formatLine(object)); }

void LineSink::emitTyped(std::string_view type, const nlohmann::json& payload) {
  writeLine(JSONOutput::formatTypedLine(type, payload));
}

void LineSink::emitError(std::string_view message) {
  writeLine(JSONOutput::formatErrorLine(message));
}

void StandardOutputSink::writeLine(std::string line) { LineWriter::writeToStandardOutput(line); }

}  // namespace nolari
