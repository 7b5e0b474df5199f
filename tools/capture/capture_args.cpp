#include "tools/capture/capture_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t p = text.find(sep, start);
    parts.push_back(text.substr(start, p - start));
    if (p == std::string::npos) return parts;
    start = p + 1;
  }
}

// Seconds in range, as whole milliseconds (rounded to the nearest).
bool show_time(const std::string& text, const char* what, uint32_t& ms, std::string& error) {
  double t = 0;
  if (!parse_capture_number(text, what, t, error)) return false;
  if (t < 0 || t > CaptureMaxSeconds) {
    error = std::string(what) + " '" + text + "' is not from 0 to 86400 seconds";
    return false;
  }
  ms = static_cast<uint32_t>(std::llround(t * 1000.0));
  return true;
}

}  // namespace

bool parse_capture_number(const std::string& text, const char* what, double& value, std::string& error) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v)) {
    error = std::string("bad ") + what + " '" + text + "'";
    return false;
  }
  value = v;
  return true;
}

bool parse_capture_keys(const std::string& list, std::vector<HeadlessKey>& keys, std::string& error) {
  for (const std::string& item : split(list, ',')) {
    const std::vector<std::string> f = split(item, ':');
    if (f.size() < 2 || f.size() > 3) {
      error = "bad key '" + item + "' (want TIME:KEY[:hold|:release])";
      return false;
    }
    uint32_t ms = 0;
    if (!show_time(f[0], "key time", ms, error)) return false;
    bool alt = false;
    uint32_t vk = 0;
    const std::string& k = f[1];
    if (k == "left") vk = VK_LEFT;
    else if (k == "right") vk = VK_RIGHT;
    else if (k == "up") vk = VK_UP;
    else if (k == "down") vk = VK_DOWN;
    else if (k == "enter") vk = VK_RETURN;
    else if (k == "escape") vk = VK_ESCAPE;
    else if (k == "alt+enter") vk = VK_RETURN, alt = true;
    else {
      error = "unknown key '" + k + "'";
      return false;
    }
    const std::string mode = f.size() == 3 ? f[2] : "";
    if (mode == "hold") {
      keys.push_back({ms, vk, true, alt});
    } else if (mode == "release") {
      keys.push_back({ms, vk, false, alt});
    } else if (mode.empty()) {
      keys.push_back({ms, vk, true, alt});
      keys.push_back({ms + 100, vk, false, alt});
    } else {
      error = "bad key mode '" + mode + "' (want hold or release)";
      return false;
    }
  }
  return true;
}

bool parse_capture_times(const std::string& list, std::vector<uint32_t>& ms, std::string& error) {
  for (const std::string& item : split(list, ',')) {
    uint32_t t = 0;
    if (!show_time(item, "--at time", t, error)) return false;
    ms.push_back(t);
  }
  return true;
}
