// samplecodec: codes raw signed 8-bit sample data with the subband codec, decodes streams,
// and measures what the coding costs (size, signal-to-noise ratio, loop seams).
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "codecs/samples.h"
#include "tools/samplecodec/sample_encoder.h"

namespace {

const char* const Usage =
    "usage: samplecodec encode IN.raw -o OUT.stream [--bit-cost X]\n"
    "       samplecodec decode IN.stream -o OUT.raw\n"
    "       samplecodec measure IN.raw [--bit-cost X] [--loops LOOPS.txt]\n"
    "IN.raw holds signed 8-bit samples. LOOPS.txt has one loop a line, \"start end\" in\n"
    "samples from the start of IN.raw; the seam is between sample end-1 and sample start.\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "samplecodec: %s\n", message.c_str());
  return 1;
}

std::optional<std::vector<uint8_t>> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Writes through a temporary name, so a failed write leaves no partial file behind.
bool write_file(const std::string& path, const void* data, size_t size) {
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

struct Options {
  std::string command, input, output, loops;
  double bitCost = SampleEncoderSettings{}.bitCost;
};

std::optional<Options> parse(int argc, char** argv) {
  if (argc < 3) return std::nullopt;
  Options o;
  o.command = argv[1];
  o.input = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return std::nullopt;
    const char* value = argv[++i];
    if (arg == "-o") {
      o.output = value;
    } else if (arg == "--loops") {
      o.loops = value;
    } else if (arg == "--bit-cost") {
      char* end = nullptr;
      o.bitCost = std::strtod(value, &end);
      if (end == value || *end != '\0' || !(o.bitCost >= 0.0)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  return o;
}

int measure(const std::vector<int8_t>& signal, const Options& o) {
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
    std::ifstream in(o.loops);
    if (!in) return fail("cannot read " + o.loops);
    long long start = 0, end = 0;
    int count = 0;
    double before = 0.0, after = 0.0, worst_growth = 0.0;
    while (in >> start >> end) {
      if (start < 0 || end <= start || static_cast<size_t>(end) > signal.size()) {
        return fail(o.loops + ": loop " + std::to_string(start) + " " + std::to_string(end) + " lies outside the input");
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
  const std::optional<Options> o = parse(argc, argv);
  if (!o || (o->command != "measure" && o->output.empty())) {
    std::fputs(Usage, stderr);
    return 2;
  }
  const std::optional<std::vector<uint8_t>> input = read_file(o->input);
  if (!input) return fail("cannot read " + o->input + ": " + std::strerror(errno));

  if (o->command == "decode") {
    const SampleStreamInfo info = measure_sample_stream(input->data(), input->size());
    if (info.error != SampleStreamError::None) {
      return fail(o->input + ": not a whole sample stream (" +
                  (info.error == SampleStreamError::NoBlockCount ? std::string("no block count")
                                                                 : "group " + std::to_string(info.groups) + " is cut short") +
                  ")");
    }
    std::vector<int8_t> decoded(info.decodedCount);
    decode_samples_checked(TheSampleDecoder, input->data(), input->size(), decoded.data(), decoded.size());
    if (!write_file(o->output, decoded.data(), decoded.size())) return fail("cannot write " + o->output);
    return 0;
  }
  const std::vector<int8_t> signal(input->begin(), input->end());
  if (o->command == "encode") {
    const EncodedSamples coded = encode_samples(signal, {o->bitCost});
    if (!write_file(o->output, coded.stream.data(), coded.stream.size())) return fail("cannot write " + o->output);
    std::printf("%s: %zu samples, %u blocks, %u groups, %zu stream bytes, %llu decoded\n", o->output.c_str(),
                signal.size(), coded.blocks, coded.groups, coded.stream.size(),
                static_cast<unsigned long long>(coded.decodedCount));
    return 0;
  }
  if (o->command == "measure") return measure(signal, *o);
  std::fputs(Usage, stderr);
  return 2;
}
