// The importer on any bytes, and on mutations of a well-formed module: it refuses or
// produces an image that passes the validator and plays.
#include <cstdlib>
#include <memory>

#include "player/player.h"
#include "player/xm_import.h"
#include "xm_writer.h"

namespace {

std::vector<uint8_t> base_module() {
  xm::Song s;
  s.channels = 3;
  xm::Pattern p;
  p.rows = 8;
  p.cells = {{49, 1, 0x40, 0x0A, 0x0F}, {50, 2, 0, 14, 0x62}, {97, 0, 0x65, 0x03, 0x20}};
  s.patterns = {p, p};
  s.orders = {0, 1, 0};
  xm::Instrument a;
  xm::Sample narrow, wide;
  for (int i = 0; i < 64; ++i) narrow.data.push_back(static_cast<int16_t>(i * 3 - 90));
  narrow.loopType = 1;
  narrow.loopStart = 8;
  narrow.loopLength = 40;
  wide.sixteenBit = true;
  for (int i = 0; i < 48; ++i) wide.data.push_back(static_cast<int16_t>(i * 1111 - 20000));
  wide.loopType = 2;
  wide.loopStart = 4;
  wide.loopLength = 30;
  a.samples = {narrow, wide};
  a.volume = {{{0, 10}, {4, 64}, {9, 20}}, 1, 0, 2, 7};
  a.panning = {{{0, 0}, {6, 64}}, 0, 0, 1, 5};
  s.instruments = {a, a};
  return xm::write(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> base = base_module();
  static PlayerState state;
  static std::vector<int32_t> mix(2 * 2048);
  if (size == 0) return 0;
  std::vector<uint8_t> file;
  if (data[0] & 1) {
    file.assign(data + 1, data + size);
  } else {
    // (offset, value) writes into the well-formed module, and maybe a cut.
    file = base;
    size_t at = 1;
    for (; at + 3 <= size; at += 3) file[(data[at] | data[at + 1] << 8) % file.size()] = data[at + 2];
    if (data[0] & 2) file.resize(file.size() - (data[0] >> 2) % file.size());
  }
  XmImport result = import_xm(file.data(), file.size());
  if (!result.ok) return 0;
  if (validate_module_image(result.image.data(), result.image.size()) != ImageCheck::Ok) std::abort();
  std::unique_ptr<uint8_t[]> exact(new uint8_t[result.image.size()]);
  std::copy(result.image.begin(), result.image.end(), exact.get());
  player_init(exact.get(), &state);
  player_start(0);
  for (int run = 0; run < 6; ++run) player_render(2048, mix.data());
  player_stop();
  return 0;
}
