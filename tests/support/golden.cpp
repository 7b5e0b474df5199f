#include "support/golden.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tools/common/png_io.h"

namespace golden {

namespace {

RgbImage crop(const HeadlessFrame& frame, const Region& r) {
  RgbImage image{r.width, r.height, {}};
  for (int y = r.y; y < r.y + r.height; ++y)
    for (int x = r.x; x < r.x + r.width; ++x) image.pixels.push_back(frame.pixels[static_cast<size_t>(y) * frame.width + x] & 0xFFFFFF);
  return image;
}

}  // namespace

::testing::AssertionResult matches(const HeadlessFrame& frame, const std::string& folder, const std::string& moment,
                                   const std::vector<Region>& regions) {
  if (frame.width != 400 || frame.height != 300) {
    return ::testing::AssertionFailure() << moment << ": the frame is " << frame.width << " x " << frame.height;
  }
  const char* update = std::getenv("MUSICDISK_UPDATE_GOLDEN");
  std::ostringstream faults;
  for (const Region& r : regions) {
    const std::string name = moment + "-" + r.effect;
    const RgbImage got = crop(frame, r);
    std::string error;
    if (update != nullptr && std::string(update) == "1") {
      if (!write_png(folder + "/" + name + ".png", got, error)) faults << "\n  " << error;
      continue;
    }
    RgbImage want;
    if (!read_png(folder + "/" + name + ".png", want, error)) {
      faults << "\n  " << r.effect << ": " << error;
      continue;
    }
    if (want.width != r.width || want.height != r.height) {
      faults << "\n  " << r.effect << ": the kept region is " << want.width << " x " << want.height;
      continue;
    }
    int differing = 0, first = -1;
    RgbImage diff{3 * r.width, r.height, std::vector<uint32_t>(static_cast<size_t>(3 * r.width * r.height))};
    for (int i = 0; i < r.width * r.height; ++i) {
      const int row = i / r.width, column = i % r.width;
      const size_t at = static_cast<size_t>(row) * diff.width + column;
      diff.pixels[at] = want.pixels[i];
      diff.pixels[at + r.width] = got.pixels[i];
      if (got.pixels[i] != want.pixels[i]) {
        if (differing++ == 0) first = i;
        diff.pixels[at + 2 * r.width] = 0xFFFFFF;
      }
    }
    if (differing == 0) {
      std::remove((name + "-diff.png").c_str());  // from an earlier failing run
      continue;
    }
    const int fx = r.x + first % r.width, fy = r.y + first / r.width;
    faults << "\n  " << r.effect << " (columns " << r.x << " to " << r.x + r.width - 1 << ", rows " << r.y << " to "
           << r.y + r.height - 1 << "): " << differing << " pixels differ, the first at " << fx << ", " << fy << ": 0x"
           << std::hex << got.pixels[first] << " where 0x" << want.pixels[first] << std::dec << " was kept; see "
           << name << "-diff.png";
    write_png(name + "-diff.png", diff, error);
  }
  if (faults.str().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the frame at " << moment << " is not the kept one:" << faults.str();
}

}  // namespace golden
