// samplecodec: codes raw signed 8-bit sample data with the subband codec, decodes streams,
// and measures what the coding costs (size, signal-to-noise ratio, loop seams).
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <limits>
#include <string>
#include <vector>

#include "codecs/samples.h"
#include "platform/cli.h"
#include "tools/common/file_io.h"
#include "tools/common/wav_io.h"
#include "tools/samplecodec/sample_encoder.h"

namespace {

const char* const Usage =
    "usage: samplecodec encode IN.wav -o OUT.stream [--bit-cost X] [--raw]\n"
    "       samplecodec decode IN.stream -o OUT.raw\n"
    "       samplecodec measure IN.wav [--bit-cost X] [--loops LOOPS.txt] [--raw]\n"
    "\n"
    "Codes sample data with the show's subband codec, decodes streams into raw signed 8-bit\n"
    "samples, and measures what the coding costs (size, signal-to-noise ratio, loop seams).\n"
    "\n"
    "IN.wav is a PCM WAV file of any width (8, 16, 24 or 32 bits), mono or stereo; stereo is\n"
    "mixed down to mono and wider samples rounded to 8 bits, as the codec codes 8-bit samples.\n"
    "  --raw            IN holds raw signed 8-bit samples instead of a WAV file\n"
    "  --bit-cost X     what one stream bit is worth in squared error (default 4; 0 codes\n"
    "                   for the smallest error)\n"
    "  --loops FILE     one loop a line, \"start end\" in samples from the start of IN; the\n"
    "                   seam is between sample end-1 and sample start\n"
    "  -o FILE          the output; - is standard output. IN may be - for standard input\n"
    "  -q, --quiet      no report and no warnings\n"
    "  -v, --verbose    more detail\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 done, 1 failed (nothing is written), 2 wrong usage.\n";

Cli TheCli{"samplecodec", Usage};

struct Options {
  std::string command, input, output, loops;
  double bitCost = SampleEncoderSettings{}.bitCost;
  bool raw = false;
};

// The samples to code: a WAV file's, mixed down to mono and rounded to 8 bits, or the raw
// bytes when asked for.
bool input_signal(const Options& o, const std::vector<uint8_t>& bytes, std::vector<int8_t>& signal,
                  std::string& error) {
  const std::string name = display_name(o.input, false);
  if (o.raw) {
    signal.assign(bytes.begin(), bytes.end());
    return true;
  }
  if (!looks_like_wav(bytes)) {
    error = name + ": not a WAV file (give --raw for raw signed 8-bit samples)";
    return false;
  }
  WavData wav;
  if (!read_wav(bytes, wav, error)) {
    error = name + ": " + error;
    return false;
  }
  if (wav.channels > 1)
    cli_warn(TheCli, name + ": " + std::to_string(wav.channels) + " channels mixed down to one");
  if (wav.bits > 8) cli_detail(TheCli, name + ": " + std::to_string(wav.bits) + "-bit samples rounded to 8 bits");
  const size_t frames = wav.samples.size() / static_cast<size_t>(wav.channels);
  signal.resize(frames);
  const int shift = wav.bits - 8;
  for (size_t i = 0; i < frames; ++i) {
    int64_t sum = 0;
    for (int c = 0; c < wav.channels; ++c) sum += wav.samples[i * static_cast<size_t>(wav.channels) + static_cast<size_t>(c)];
    // The mean of the channels, then rounded to the top 8 bits (halves upward).
    const double mean = static_cast<double>(sum) / wav.channels;
    const double scaled = std::floor(mean / static_cast<double>(int64_t{1} << shift) + 0.5);
    signal[i] = static_cast<int8_t>(std::clamp(scaled, -128.0, 127.0));
  }
  return true;
}

int measure(const std::vector<int8_t>& signal, const Options& o) {
  if (signal.empty()) return cli_fail(TheCli, display_name(o.input, false) + ": no samples to measure");
  const EncodedSamples coded = encode_samples(signal, {o.bitCost});
  std::vector<int8_t> decoded(coded.decodedCount);
  decode_samples(TheSampleDecoder, coded.stream.data(), decoded.data());
  double signal_energy = 0.0, noise_energy = 0.0;
  for (size_t i = 0; i < signal.size(); ++i) {
    const double e = static_cast<double>(decoded[i]) - signal[i];
    signal_energy += static_cast<double>(signal[i]) * signal[i];
    noise_energy += e * e;
  }
  // Where the decoded samples line up best with the input, by cross-correlation.
  int best_lag = 0;
  double best = -1e300;
  for (int lag = -8; lag <= 8; ++lag) {
    double sum = 0.0;
    for (size_t i = 8; i + 8 < signal.size(); ++i) sum += static_cast<double>(signal[i]) * decoded[i + static_cast<size_t>(lag)];
    if (sum > best) best = sum, best_lag = lag;
  }
  const double snr = noise_energy > 0.0 ? 10.0 * std::log10(signal_energy / noise_energy) : INFINITY;
  std::printf("samples %zu  blocks %u  groups %u  stream %zu bytes  decoded %llu\n", signal.size(), coded.blocks,
              coded.groups, coded.stream.size(), static_cast<unsigned long long>(coded.decodedCount));
  std::printf("bits/sample %.3f  snr %.2f dB  rms error %.3f  best lag %d\n",
              8.0 * static_cast<double>(coded.stream.size()) / static_cast<double>(signal.size()), snr,
              std::sqrt(noise_energy / static_cast<double>(signal.size())), best_lag);
  if (!o.loops.empty()) {
    std::vector<uint8_t> text;
    std::string error;
    if (!read_input(o.loops, text, error, TextInput)) return cli_fail(TheCli, error);
    // Whitespace-separated pairs START END; any other token is an error, not the end of the list.
    std::vector<long long> numbers;
    const std::string list(text.begin(), text.end());
    for (size_t at = 0; at < list.size();) {
      if (std::isspace(static_cast<unsigned char>(list[at]))) {
        ++at;
        continue;
      }
      size_t stop = at;
      while (stop < list.size() && !std::isspace(static_cast<unsigned char>(list[stop]))) ++stop;
      const std::string token = list.substr(at, stop - at);
      long long v = 0;
      if (!cli_integer(token, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), v))
        return cli_fail(TheCli, display_name(o.loops, false) + ": \"" + token.substr(0, 40) + "\" is not a whole number of 64 bits");
      numbers.push_back(v);
      at = stop;
    }
    if (numbers.size() % 2 != 0)
      return cli_fail(TheCli, display_name(o.loops, false) + ": loop " + std::to_string(numbers.back()) + " has no end");
    int count = 0;
    double before = 0.0, after = 0.0, worst_growth = 0.0;
    for (size_t k = 0; k < numbers.size(); k += 2) {
      const long long start = numbers[k], end = numbers[k + 1];
      if (start < 0 || end <= start || static_cast<size_t>(end) > signal.size()) {
        return cli_fail(TheCli, o.loops + ": loop " + std::to_string(start) + " " + std::to_string(end) + " lies outside the input");
      }
      const double jb = std::fabs(static_cast<double>(signal[static_cast<size_t>(end - 1)]) - signal[static_cast<size_t>(start)]);
      const double ja = std::fabs(static_cast<double>(decoded[static_cast<size_t>(end - 1)]) - decoded[static_cast<size_t>(start)]);
      before += jb, after += ja, ++count;
      worst_growth = std::fmax(worst_growth, ja - jb);
    }
    if (count > 0) {
      std::printf("loops %d  mean seam jump before %.2f  after %.2f  largest growth %.0f\n", count, before / count,
                  after / count, worst_growth);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const CliArgs a = cli_parse(TheCli, argc, argv, 1,
                              {{"output", 'o', true}, {"loops", 0, true}, {"bit-cost", 0, true}, {"raw", 0, false}});
  Options o;
  if (a.positional.empty()) cli_usage_error(TheCli, "no command given");
  o.command = a.positional[0];
  if (o.command != "encode" && o.command != "decode" && o.command != "measure")
    cli_usage_error(TheCli, "unknown command \"" + o.command + "\"");
  if (a.positional.size() != 2) cli_usage_error(TheCli, "usage: samplecodec " + o.command + " IN ...");
  o.input = a.positional[1];
  if (const std::string* v = a.value("output")) o.output = *v;
  if (const std::string* v = a.value("loops")) o.loops = *v;
  o.raw = a.has("raw");
  if (const std::string* v = a.value("bit-cost"); v != nullptr && !cli_number(*v, 0, 1e12, o.bitCost))
    cli_usage_error(TheCli, "--bit-cost: \"" + *v + "\" is not a number from 0 to 1e12");
  if (o.command == "measure" ? !o.output.empty() : o.output.empty())
    cli_usage_error(TheCli, o.command == "measure" ? "measure writes no file (no -o)" : o.command + " needs -o OUT");
  if (o.command == "decode" && (o.raw || !o.loops.empty() || a.has("bit-cost")))
    cli_usage_error(TheCli, "decode takes no --raw, --loops or --bit-cost");
  if (o.command == "encode" && !o.loops.empty()) cli_usage_error(TheCli, "encode takes no --loops");

  std::string error;
  if (!o.output.empty() && is_same_file(o.input, o.output, error)) return cli_fail(TheCli, error);
  std::vector<uint8_t> input;
  if (!read_input(o.input, input, error, o.command == "decode" ? ModuleInput : SoundInput)) return cli_fail(TheCli, error);
  const std::string name = display_name(o.input, false);

  if (o.command == "decode") {
    const SampleStreamInfo info = measure_sample_stream(input.data(), input.size());
    if (info.error != SampleStreamError::None) {
      return cli_fail(TheCli, name + ": not a whole sample stream (" +
                  (info.error == SampleStreamError::NoBlockCount ? std::string("no block count")
                                                                 : "group " + std::to_string(info.groups) + " is cut short") +
                  ")");
    }
    std::vector<int8_t> decoded(info.decodedCount);
    if (!decoded.empty() &&
        !decode_samples_checked(TheSampleDecoder, input.data(), input.size(), decoded.data(), decoded.size()))
      return cli_fail(TheCli, name + ": the sample stream does not decode");
    if (!write_whole_output(o.output, std::span(reinterpret_cast<const uint8_t*>(decoded.data()), decoded.size()), error))
      return cli_fail(TheCli, error);
    if (decoded.empty()) cli_warn(TheCli, name + ": the stream holds no samples; the output is empty");
    return 0;
  }
  std::vector<int8_t> signal;
  if (!input_signal(o, input, signal, error)) return cli_fail(TheCli, error);
  // A stream of nothing would be written as if something had been coded.
  if (signal.empty()) return cli_fail(TheCli, name + ": no samples to " + o.command);
  if (o.command == "encode") {
    const EncodedSamples coded = encode_samples(signal, {o.bitCost});
    if (!write_whole_output(o.output, coded.stream, error)) return cli_fail(TheCli, error);
    if (o.output != "-" && TheCli.verbosity >= 1)
      std::printf("%s: %zu samples, %u blocks, %u groups, %zu stream bytes, %llu decoded\n", o.output.c_str(),
                  signal.size(), coded.blocks, coded.groups, coded.stream.size(),
                  static_cast<unsigned long long>(coded.decodedCount));
    return 0;
  }
  return measure(signal, o);
}
