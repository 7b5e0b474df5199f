// Any text as a score: it is refused with a placed message, or it compiles to a module that
// the importer takes back. Samples are made with a small frame limit (and only for a few
// instruments), so each input stays quick; the limit is itself part of what is checked.
#include <cstdlib>
#include <string>

#include "tools/tunescore/score.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Score score;
  std::string error;
  if (!parse_score(text, "f.score", score, error)) {
    if (error.rfind("f.score:", 0) != 0) std::abort();
    return 0;
  }
  if (score.instruments.size() > 4) return 0;
  for (const ScoreInstrument& ins : score.instruments) {
    XmSample sample;
    if (!synthesise(ins.synth, sample, error, size_t{1} << 13)) return 0;
    if (sample.data.empty()) std::abort();
    for (int16_t v : sample.data)
      if (v < -127 || v > 127) std::abort();
    if (sample.loopType != 0 && uint64_t{sample.loopStart} + sample.loopLength > sample.data.size()) std::abort();
  }
  XmModule module;
  if (!score_to_xm(score, module, error)) std::abort();  // every sample was made above
  const XmImport back = import_xm(write_xm(module));
  if (!back.ok && back.error.empty()) std::abort();
  return 0;
}
