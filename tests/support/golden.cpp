#include "support/golden.h"

#include <cstdlib>
#include <sstream>

#include "tools/common/png_io.h"

namespace golden {

::testing::AssertionResult matches(const HeadlessFrame& frame, const std::string& folder, const std::string& moment,
                                   const std::vector<Region>& regions) {
  const char* update = std::getenv("MUSICDISK_UPDATE_GOLDEN");
  std::ostringstream faults;
  for (const Region& r : regions) {
    const std::string name = moment + "-" + r.effect;
    RgbImage got{r.width, r.height, {}};
    for (int y = r.y; y < r.y + r.height; ++y) {
      for (int x = r.x; x < r.x + r.width; ++x) got.pixels.push_back(frame.pixels.at(y * frame.width + x) & 0xFFFFFF);
    }
    std::string error;
    RgbImage want;
    if (update != nullptr && std::string(update) == "1") {
      if (!write_png(folder + "/" + name + ".png", got, error)) faults << "\n  " << error;
    } else if (!read_png(folder + "/" + name + ".png", want, error)) {
      faults << "\n  " << r.effect << ": " << error;
    } else if (want.width != r.width || want.height != r.height) {
      faults << "\n  " << r.effect << ": the kept region is " << want.width << " x " << want.height;
    } else {
      RgbImage diff = got;  // the frame's region, the pixels that differ in white
      int differing = 0, first = -1;
      for (size_t i = 0; i < got.pixels.size(); ++i) {
        if (got.pixels[i] == want.pixels[i]) continue;
        diff.pixels[i] = 0xFFFFFF;
        if (differing++ == 0) first = static_cast<int>(i);
      }
      if (differing == 0) continue;
      faults << "\n  " << r.effect << " (columns " << r.x << " to " << r.x + r.width - 1 << ", rows " << r.y << " to "
             << r.y + r.height - 1 << "): " << differing << " pixels differ, the first at " << r.x + first % r.width
             << ", " << r.y + first / r.width << ": 0x" << std::hex << got.pixels[first] << " where 0x"
             << want.pixels[first] << std::dec << " was kept; see " << name << "-diff.png";
      write_png(name + "-diff.png", diff, error);
    }
  }
  if (faults.str().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the frame at " << moment << " is not the kept one:" << faults.str();
}

}  // namespace golden
