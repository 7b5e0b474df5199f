// Golden frames: the regions of a presented frame that matter, kept as small PNGs beside the
// test, so that a change says which effect and which part of the picture moved.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless/headless.h"

namespace golden {

// A part of the 400 x 300 frame, named after the effect that is drawn there.
struct Region {
  const char* effect;
  int x, y, width, height;
};

// Compares each region of `frame` with `folder`/`moment`-`effect`.png. A failure names the
// moment, each effect whose region differs, the region, how many pixels differ and the first
// one, and writes `moment`-`effect`-diff.png into the working folder: the frame's region with
// the differing pixels in white. Regions lie inside the frame (one reaching below it throws
// std::out_of_range).
// With MUSICDISK_UPDATE_GOLDEN=1 in the environment the regions are written into `folder`
// instead, and the comparison passes.
::testing::AssertionResult matches(const HeadlessFrame& frame, const std::string& folder, const std::string& moment,
                                   const std::vector<Region>& regions);

}  // namespace golden
