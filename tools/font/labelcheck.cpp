// md-labelcheck: measures every menu label with the built-in font, as the bar images will
// draw it, and fails the build naming the label that does not fit between its brackets or
// uses a code outside 32..127.
#include <cstdio>
#include <string>

#include "assets/menu_texts.h"
#include "render/font.h"
#include "tools/font/label_rules.h"

namespace {

bool report(const std::string& problem) {
  if (problem.empty()) return true;
  std::fprintf(stderr, "md-labelcheck: %s\n", problem.c_str());
  return false;
}

}  // namespace

int main() {
  build_font_from(FontStrip);
  bool ok = true;
  int32_t widest_tune = 0, widest_link = 0, width = 0;
  for (int n = 1; n <= 14; ++n) {
    ok = report(label_problem("tune", n, TuneLabels[n], TuneLabelLimit, width)) && ok;
    if (width > widest_tune) widest_tune = width;
  }
  for (int m = 1; m <= 17; ++m) {
    ok = report(label_problem("link", m, LinkLabels[m], LinkLabelLimit, width)) && ok;
    if (width > widest_link) widest_link = width;
    ok = report(address_problem(m, LinkAddresses[m])) && ok;
  }
  if (!ok) return 1;
  std::printf("menu labels fit: widest tune label %d of %d pixels, widest link label %d of %d\n", widest_tune,
              TuneLabelLimit, widest_link, LinkLabelLimit);
  return 0;
}
