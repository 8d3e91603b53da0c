// A second, deliberately plain implementation of the whole conversion, kept
// only to check the real one against: the file is held in memory, every
// event of every track is collected, every note becomes a record, and the
// records are sorted with a stable sort before they are written. It shares
// no code with the converter but the message texts.
#pragma once

#include <string>

#include "support/harness.h"

namespace onpu::test {

struct ReferenceResult {
  bool ok = false;
  std::string osu;  // what the output received (empty when it was never opened)
  std::string out;
  std::string err;  // warnings and the failure's message, if any
};

ReferenceResult reference_convert(const Bytes& midi, Mode mode, const std::string& base_name);

}  // namespace onpu::test
