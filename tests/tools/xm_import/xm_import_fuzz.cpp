// Any bytes into the importer: it either refuses them with a message or makes an image that
// passes the validator and plays.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "player/player.h"
#include "tools/xm_import/xm_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XmImport r = import_xm(std::span<const uint8_t>(data, size));
  if (!r.ok) {
    if (r.error.empty() || !r.image.empty()) std::abort();
    return 0;
  }
  if (validate_module_image(r.image.data(), r.image.size()) != ImageCheck::Ok) std::abort();
  auto state = std::make_unique<PlayerState>();
  if (!player_init(r.image.data(), state.get())) std::abort();
  player_start(0);
  static int32_t mix[2 * 2048];
  player_render(2048, mix);
  player_stop();
  return 0;
}
