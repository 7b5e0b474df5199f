// md-labelcheck: measures every menu label with the built-in font, as the bar images will
// draw it, and fails the build naming the label that does not fit between its brackets or
// uses a code outside 32..127. With --widths it prints every tune label's width, one
// "tune N WIDTH" line each, for the tune measurements' margin check.
#include <cstdio>
#include <cstring>
#include <string>

#include "assets/menu_texts.h"
#include "render/font.h"
#include "render/menu_bars.h"

namespace {

bool check(const char* kind, int index, const char* label, int32_t limit, int32_t& widest) {
  int32_t width = 0;
  const std::string problem = menu_label_problem(label, limit, &width);
  if (!problem.empty()) {
    std::fprintf(stderr, "md-labelcheck: %s label %d \"%s\" %s\n", kind, index, printable(label).c_str(),
                 problem.c_str());
    return false;
  }
  if (width > widest) widest = width;
  return true;
}

bool check_address(int index, const char* address) {
  const std::string problem = link_address_problem(address);
  if (problem.empty()) return true;
  std::fprintf(stderr, "md-labelcheck: link address %d \"%s\" %s\n", index, address, problem.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const bool widths = argc == 2 && std::strcmp(argv[1], "--widths") == 0;
  if (argc > 1 && !widths) {
    std::fprintf(stderr, "usage: md-labelcheck [--widths]\n");
    return 2;
  }
  build_font_from(FontStrip);
  if (widths) {
    for (int n = 1; n <= 14; ++n) std::printf("tune %d %d\n", n, static_cast<int>(measure_text(TuneLabels[n])));
    return 0;
  }
  bool ok = true;
  int32_t widest_tune = 0, widest_link = 0;
  for (int n = 1; n <= 14; ++n) ok = check("tune", n, TuneLabels[n], TuneLabelLimit, widest_tune) && ok;
  for (int m = 1; m <= 17; ++m) {
    ok = check("link", m, LinkLabels[m], LinkLabelLimit, widest_link) && ok;
    ok = check_address(m, LinkAddresses[m]) && ok;
  }
  if (!ok) return 1;
  std::printf("menu labels fit: widest tune label %d of %d pixels, widest link label %d of %d\n", widest_tune,
              TuneLabelLimit, widest_link, LinkLabelLimit);
  return 0;
}
