// md-labelcheck: measures every menu label with the built-in font, as the bar images will
// draw it, and fails the build naming the label that does not fit between its brackets or
// uses a code outside 32..127.
#include <cstdio>
#include <string>

#include "assets/menu_texts.h"
#include "render/font.h"
#include "render/menu_bars.h"

namespace {

// The label as it can be printed: codes outside 32..126 as \xNN.
std::string printable(const char* label) {
  std::string out;
  for (const char* p = label; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

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

int main() {
  build_font_from(FontStrip);
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
