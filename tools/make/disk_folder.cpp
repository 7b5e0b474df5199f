#include "tools/make/disk_folder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "assets/font_strip.h"
#include "assets/menu_texts.h"
#include "codecs/picture_encoder.h"
#include "render/font.h"
#include "render/menu_bars.h"
#include "render/strip_rules.h"
#include "tools/common/file_io.h"
#include "tools/common/png_io.h"
#include "tools/font/scroll_text.h"
#include "tools/font/strip_png.h"
#include "tools/picturetool/picture_roles.h"
#include "tools/tunetool/xm_pack.h"

namespace fs = std::filesystem;

namespace {

// What reading the folder gathers; `problems` and `warnings` as in DiskFolderRead.
struct Reader {
  std::string folder;
  DiskFolderRead& out;

  std::string path(const std::string& name) const { return (fs::path(folder) / name).string(); }
  void problem(std::string text) { out.problems.push_back(std::move(text)); }

  bool read(const std::string& name, std::vector<uint8_t>& bytes, InputLimit limit) {
    std::string error;
    if (read_input(path(name), bytes, error, limit)) return true;
    problem(error);
    return false;
  }
};

// The lines of a text file, without their line ends.
std::vector<std::string> lines_of(const std::vector<uint8_t>& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t b : bytes) {
    if (b == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (b != '\r') {
      line += static_cast<char>(b);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// "tune label 3 \"Far Too Long\" measures 341 pixels; ...": the label named, with the
// problem in the show's own words; codes outside 32..126 printed as \xNN.
std::string label_problem(const char* kind, size_t index, const std::string& label, int32_t limit) {
  const std::string problem =
      label.find('\0') != std::string::npos ? "holds a zero byte" : menu_label_problem(label.c_str(), limit);
  if (problem.empty()) return {};
  std::string shown;
  for (char ch : label) {
    const auto c = static_cast<unsigned char>(ch);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    shown += c >= 32 && c < 127 ? std::string(1, ch) : std::string(hex);
  }
  return std::string(kind) + " label " + std::to_string(index) + " \"" + shown + "\" " + problem;
}

// The menu's font draws '#' as e with acute accent; a label written in UTF-8 may use the letter.
std::string menu_label(std::string s) {
  for (size_t at; (at = s.find("\xC3\xA9")) != std::string::npos;) s.replace(at, 2, "#");
  return trimmed(s);
}

// Each tune's file and title; no title for a tune that could not be packed (its label is not
// judged then).
struct TuneTitle {
  std::string file;
  std::optional<std::string> title;
};
using Titles = std::vector<TuneTitle>;

void read_tunes(Reader& r, Titles& titles) {
  const fs::path dir = fs::path(r.folder) / "tunes";
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() == ".xm" || p.extension() == ".XM") names.push_back(p.filename().string());
  }
  if (ec) {
    r.problem(dir.string() + ": cannot read the folder: " + ec.message());
    return;
  }
  std::sort(names.begin(), names.end());
  if (names.empty() || names.size() > DiskMaxTunes) {
    r.problem(dir.string() + ": holds " + std::to_string(names.size()) + " modules (.xm); a disk has 1 to " +
              std::to_string(DiskMaxTunes));
    if (names.empty()) return;
  }
  for (const std::string& name : names) {
    const std::string file = "tunes/" + name;
    std::vector<uint8_t> bytes;
    titles.push_back({r.path(file), std::nullopt});
    if (!r.read(file, bytes, ModuleInput)) continue;
    XmPack packed = pack_xm(bytes);
    for (const std::string& w : packed.warnings) r.out.warnings.push_back(r.path(file) + ": " + w);
    if (!packed.ok) {
      r.problem(r.path(file) + ": " + packed.error);
      continue;
    }
    titles.back().title = trimmed(packed.title);
    r.out.pieces.tunes.push_back(packed_tune_file(packed.tune));
  }
}

// After the tunes and the font: the labels, measured with the font the disk will draw them in.
void read_labels(Reader& r, const Titles& titles) {
  std::vector<std::string> lines;
  std::error_code ec;
  if (fs::exists(r.path("labels.txt"), ec)) {
    std::vector<uint8_t> bytes;
    if (!r.read("labels.txt", bytes, TextInput)) return;
    lines = lines_of(bytes);
    if (lines.size() > titles.size() + 1)
      r.problem(r.path("labels.txt") + ": " + std::to_string(lines.size()) + " lines, but the disk has " +
                std::to_string(titles.size()) + " tunes and the silence entry");
  }
  for (size_t n = 0; n <= titles.size(); ++n) {
    const bool silence = n == titles.size();
    std::string label = n < lines.size() ? menu_label(lines[n]) : "";
    std::string from = r.path("labels.txt") + ":" + std::to_string(n + 1) + ": ";
    if (label.empty() && silence) label = "Silence";
    if (label.empty()) {
      if (!titles[n].title) continue;
      label = *titles[n].title;
      from = titles[n].file + ": the module's title: ";
      if (label.empty()) {
        r.problem(titles[n].file + ": the module has no title; name the tune on line " + std::to_string(n + 1) +
                  " of labels.txt");
        continue;
      }
    }
    const std::string problem = label_problem("tune", n + 1, label, TuneLabelLimit);
    if (!problem.empty()) r.problem(from + problem);
    (silence ? r.out.pieces.silenceLabel : r.out.pieces.tuneLabels.emplace_back()) = label;
  }
}

void read_links(Reader& r) {
  std::vector<uint8_t> bytes;
  if (!r.read("links.txt", bytes, TextInput)) return;
  int index = 0, line_number = 0;
  for (const std::string& raw : lines_of(bytes)) {
    ++line_number;
    const std::string line = trimmed(raw);
    if (line.empty()) continue;
    ++index;
    const std::string where = r.path("links.txt") + ":" + std::to_string(line_number) + ": ";
    const size_t gap = line.find_last_of(" \t");
    if (gap == std::string::npos) {
      r.problem(where + "a link needs a label, then its address");
      continue;
    }
    const std::string label = menu_label(line.substr(0, gap)), address = line.substr(gap + 1);
    if (std::string p = label_problem("link", static_cast<size_t>(index), label, LinkLabelLimit); !p.empty())
      r.problem(where + p);
    if (std::string p = link_address_problem(address.c_str()); !p.empty())
      r.problem(where + "link address " + std::to_string(index) + " \"" + address + "\" " + p);
    r.out.pieces.linkLabels.push_back(label);
    r.out.pieces.linkAddresses.push_back(address);
  }
  if (index == 0 || index > DiskMaxLinks)
    r.problem(r.path("links.txt") + ": holds " + std::to_string(index) + " links; a disk has 1 to " +
              std::to_string(DiskMaxLinks));
}

void read_picture(Reader& r, const char* name, const PictureRole& role, std::vector<uint8_t>& stream) {
  std::vector<uint8_t> bytes;
  if (!r.read(name, bytes, PictureInput)) return;
  RgbImage image;
  std::string error;
  if (!decode_png(bytes, r.path(name), image, error, 4080, 4080)) {
    r.problem(error);
    return;
  }
  if (std::string p = picture_size_problem(r.path(name), image.width, image.height, &role); !p.empty()) {
    r.problem(p);
    return;
  }
  PictureEncoderOptions options;
  options.quantiserScale = role.quantiserScale;
  stream = encode_picture(image.pixels.data(), image.width, image.height, options);
  if (stream.empty()) r.problem(r.path(name) + ": cannot encode the picture");
}

// The font the labels are measured in: the folder's strip when it has one and it keeps the
// rules, else the built-in one.
void read_font(Reader& r) {
  std::error_code ec;
  if (fs::exists(r.path("font.png"), ec)) {
    std::vector<uint8_t> bytes;
    StripLevels strip;
    std::string error;
    if (r.read("font.png", bytes, PictureInput)) {
      if (!decode_strip_png(bytes, r.path("font.png"), strip, error) ||
          !check_strip(strip, LastGlyphCode, error)) {
        r.problem(error.rfind(r.path("font.png"), 0) == 0 ? error : r.path("font.png") + ": " + error);
      } else {
        DiskFontStrip& font = r.out.pieces.font;
        font.width = static_cast<uint16_t>(strip.width);
        font.height = static_cast<uint16_t>(strip.height);
        font.levels = std::move(strip.levels);
        build_font_from(FontStripRecord{font.width, font.height, font.levels.data()});
        return;
      }
    }
  }
  build_font_from(FontStrip);
}

}  // namespace

DiskFolderRead read_disk_folder(const std::string& folder) {
  DiskFolderRead out;
  Reader r{folder, out};
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    r.problem(folder + ": not a folder");
    return out;
  }
  Titles titles;
  read_tunes(r, titles);
  read_font(r);
  read_labels(r, titles);
  read_links(r);
  read_picture(r, "logo.png", LogoRole, out.pieces.logo);
  read_picture(r, "sprite.png", SpriteRole, out.pieces.sprite);
  std::vector<uint8_t> text;
  if (r.read("text.txt", text, TextInput)) {
    std::vector<uint8_t>& bytes = out.pieces.scrollText;
    convert_scroll_text(std::string(text.begin(), text.end()), r.path("text.txt"), bytes, out.problems);
    // The scroller passes over line breaks (the conversion has put a word gap before each),
    // and a disk's text holds only codes the font draws.
    std::erase(bytes, uint8_t{'\n'});
  }
  return out;
}

bool write_builtin_disk_folder(const std::string& sources, bool assets_layout, const std::string& folder,
                               std::string& error) {
  std::error_code ec;
  const bool existed = fs::exists(folder, ec);
  if (existed && !(fs::is_directory(folder, ec) && fs::is_empty(folder, ec))) {
    error = folder + ": already there and not an empty folder; name a new one";
    return false;
  }
  // A folder left half written is taken away again.
  const auto give_up = [&] {
    if (existed) {
      for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) fs::remove_all(e.path(), ec);
    } else {
      fs::remove_all(folder, ec);
    }
    return false;
  };
  fs::create_directories(fs::path(folder) / "tunes", ec);
  if (ec) {
    error = "cannot make " + (fs::path(folder) / "tunes").string() + ": " + ec.message();
    return give_up();
  }
  // (source, destination) pairs.
  std::vector<std::pair<std::string, std::string>> files;
  const fs::path src(sources);
  for (int n = 1; n <= 13; ++n) {
    const std::string xm = (n < 10 ? "0" : "") + std::to_string(n) + ".xm";
    files.emplace_back((src / "tunes" / xm).string(), "tunes/" + xm);
  }
  files.emplace_back((src / (assets_layout ? "pictures/logo.png" : "logo.png")).string(), "logo.png");
  files.emplace_back((src / (assets_layout ? "pictures/sprite.png" : "sprite.png")).string(), "sprite.png");
  files.emplace_back((src / (assets_layout ? "scroll_text.txt" : "text.txt")).string(), "text.txt");
  for (const auto& [from, to] : files) {
    std::vector<uint8_t> bytes;
    if (!read_input(from, bytes, error, ModuleInput) || !write_whole_output((fs::path(folder) / to).string(), bytes, error))
      return give_up();
  }
  std::string labels, links;
  for (int n = 1; n <= 14; ++n) labels += std::string(TuneLabels[n]) + "\n";
  for (int m = 1; m <= 17; ++m) links += std::string(LinkLabels[m]) + "  " + LinkAddresses[m] + "\n";
  for (const auto& [name, text] : {std::pair{"labels.txt", &labels}, std::pair{"links.txt", &links}}) {
    if (!write_whole_output((fs::path(folder) / name).string(),
                            std::span(reinterpret_cast<const uint8_t*>(text->data()), text->size()), error))
      return give_up();
  }
  return true;
}
