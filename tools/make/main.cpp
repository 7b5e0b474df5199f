// musicdisk-make: a disk folder in, finished disks out. Every source is checked first and
// every problem reported; only then is the disk packed (the tunes, pictures, font and texts
// exactly as the build packs the built-in disk) and written as a block into copies of the
// released programs: the Linux program, the Windows program and the web page.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <span>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/cli.h"
#include "driver/disk.h"
#include "tools/common/file_io.h"
#include "tools/make/disk_folder.h"

namespace fs = std::filesystem;

namespace {

const char* const Usage =
    "usage: musicdisk-make FOLDER -o NAME [--programs DIR]\n"
    "       musicdisk-make init FOLDER [--sources DIR]\n"
    "\n"
    "Makes a music disk of your own from a disk folder:\n"
    "  tunes/*.xm   1 to 13 extended modules, in the tune bar's order by name\n"
    "  labels.txt   optional: line n is tune n's label (empty: the module's title);\n"
    "               the line after the last tune is the silence entry's\n"
    "  logo.png     640 x 128        sprite.png  32 x 32\n"
    "  text.txt     the scroll text (UTF-8)\n"
    "  links.txt    1 to 17 lines: a label, then the web address as the last word\n"
    "  font.png     optional: a font strip\n"
    "Everything is checked first and every problem listed; nothing is written then. Else\n"
    "it writes NAME (the Linux program), NAME.exe (the Windows program) and NAME-web/ (the\n"
    "web page) from the released programs. One it cannot find is named with the reason, and\n"
    "the others are still written.\n"
    "\n"
    "init writes a new disk folder holding the built-in disk's sources to start from.\n"
    "\n"
    "  -o NAME          the programs to write\n"
    "  --programs DIR   where the released programs are: DIR/musicdisk, DIR/musicdisk.exe,\n"
    "                   DIR/web/ (default: this tool's own folder)\n"
    "  --sources DIR    init: where the built-in disk's sources are (default: builtin-disk/\n"
    "                   beside this tool)\n"
    "  -q, --quiet      no report and no warnings\n"
    "  -v, --verbose    more detail\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 done, 1 failed (a problem in the folder: nothing is written), 2 wrong usage.\n";

Cli TheCli{"musicdisk-make", Usage};

int fail(const std::string& message) { return cli_fail(TheCli, message); }

// This program's own folder, and whether it runs from the build tree it was built in (where
// the programs and sources are found at their places in the build and source trees).
struct Home {
  fs::path folder;
  bool buildTree = false;
};

Home find_home(const char* argv0) {
  Home home;
  std::error_code ec;
#ifdef _WIN32
  std::wstring name(32768, L'\0');
  name.resize(GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size())));
  fs::path self = name;
  if (name.empty()) self = fs::absolute(argv0, ec);
#else
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0, ec);
#endif
  home.folder = self.parent_path();
  home.buildTree = fs::exists(home.folder / ".." / ".." / "CMakeCache.txt", ec);
  return home;
}

// One of the three programs: where the released one is, and what to call the new one.
struct Target {
  const char* what;       // "the Linux program"
  fs::path released;      // a file, or a folder for the web page
  std::string output;
  const char* howToMake;  // where a build makes it
};

// The program with the new block in place of any it carries.
bool program_with_block(const fs::path& released, std::span<const uint8_t> block, std::vector<uint8_t>& bytes,
                        std::string& error) {
  if (!read_input(released.string(), bytes, error, ProgramInput)) return false;
  const DiskBlockPlace place = locate_disk_block(bytes);
  if (place.status == DiskBlockStatus::Damaged) {
    error = released.string() + " carries a damaged disk (" + place.error + "); take a whole released program";
    return false;
  }
  if (place.status == DiskBlockStatus::Found) bytes.resize(place.offset);
  bytes.insert(bytes.end(), block.begin(), block.end());
  return true;
}

bool write_program(const Target& t, std::span<const uint8_t> block, std::string& error) {
  std::vector<uint8_t> bytes;
  if (is_same_file(t.released.string(), t.output, error)) return false;
  return program_with_block(t.released, block, bytes, error) &&
         write_whole_output(t.output, bytes, error, OutputKind::Program);
}

// The page's files are copied as they are; the disk goes beside them as disk.bin, which the
// page reads before the show starts.
bool write_web(const Target& t, std::span<const uint8_t> block, std::string& error) {
  std::error_code ec;
  const fs::path out(t.output);
  if (fs::equivalent(t.released, out, ec)) {
    error = t.output + " is the released page itself";
    return false;
  }
  fs::create_directories(out, ec);
  if (ec) {
    error = "cannot make " + t.output + ": " + ec.message();
    return false;
  }
  for (fs::directory_iterator it(t.released, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file() || it->path().filename() == "disk.bin") continue;
    std::vector<uint8_t> bytes;
    if (!read_input(it->path().string(), bytes, error, ProgramInput) ||
        !write_whole_output((out / it->path().filename()).string(), bytes, error))
      return false;
  }
  if (ec) {
    error = "cannot read " + t.released.string() + ": " + ec.message();
    return false;
  }
  return write_whole_output((out / "disk.bin").string(), block, error);
}

int make(const Home& home, const std::string& folder, const std::string& name, const std::string* programs) {
  DiskFolderRead read = read_disk_folder(folder);
  for (const std::string& w : read.warnings) cli_warn(TheCli, w);
  if (!read.problems.empty()) {
    for (const std::string& p : read.problems) fail(p);
    return fail(std::to_string(read.problems.size()) + (read.problems.size() == 1 ? " problem" : " problems") +
                " in " + folder + "; nothing written");
  }
  const std::vector<uint8_t> block = encode_disk_block(read.pieces);
  // The block as the show will read and check it, before any program is written.
  DiskBlockRead back = read_disk_block(block);
  if (back.status != DiskBlockStatus::Found) return fail("internal error: the new disk does not read back: " + back.error);
  if (std::string problem = validate_disk_pieces(back.pieces); !problem.empty())
    return fail("internal error: the show would refuse this disk: " + problem);

  const fs::path beside = programs ? fs::path(*programs) : home.folder;
  const bool build = !programs && home.buildTree;
  const fs::path binary = home.folder / ".." / "..";
  const fs::path source = MD_SOURCE_DIR;
  const char* const release_hint = "a release folder made by scripts/release.sh holds it";
  // In a build tree, this system's program is the one built beside this tool; the other
  // system's is in the build folder its script makes.
#ifdef _WIN32
  const fs::path linux_build = source / "build" / "release" / "driver" / "musicdisk";
  const fs::path windows_build = binary / "driver" / "musicdisk.exe";
  const char* const linux_how = "scripts/show.sh builds it";
  const char* const windows_how = "its build target is musicdisk";
#else
  const fs::path linux_build = binary / "driver" / "musicdisk";
  const fs::path windows_build = source / "build" / "windows" / "driver" / "musicdisk.exe";
  const char* const linux_how = "its build target is musicdisk";
  const char* const windows_how = "scripts/windows.sh builds it";
#endif
  Target targets[] = {
      {"the Linux program", build ? linux_build : beside / "musicdisk", name, build ? linux_how : release_hint},
      {"the Windows program", build ? windows_build : beside / "musicdisk.exe", name + ".exe",
       build ? windows_how : release_hint},
      {"the web page", build ? source / "build" / "web" : beside / "web", name + "-web",
       build ? "scripts/web.sh builds it" : release_hint},
  };
  int written = 0, failed = 0;
  for (const Target& t : targets) {
    std::error_code ec;
    std::string error;
    if (!fs::exists(t.released, ec)) {
      cli_warn(TheCli, "not writing " + t.output + ": " + t.what + " is not at " + t.released.lexically_normal().string() +
                           " (" + t.howToMake + "; or name a release folder with --programs)");
      continue;
    }
    const bool ok = fs::is_directory(t.released, ec) ? write_web(t, block, error) : write_program(t, block, error);
    if (!ok) {
      fail("cannot write " + t.output + " (" + t.what + "): " + error);
      ++failed;
      continue;
    }
    ++written;
    if (TheCli.verbosity >= 1) std::printf("%s: %s with the disk of %s\n", t.output.c_str(), t.what, folder.c_str());
  }
  if (written == 0 && failed == 0) return fail("no released program found; nothing written");
  if (TheCli.verbosity >= 1)
    std::printf("the disk: %zu tunes, %zu links, %zu bytes\n", read.pieces.tunes.size(),
                read.pieces.linkLabels.size(), block.size());
  return failed == 0 ? ExitOk : ExitFailure;
}

int init(const Home& home, const std::string& folder, const std::string* sources) {
  std::string error;
  bool assets_layout = false;
  fs::path from;
  std::error_code ec;
  if (sources) {
    from = *sources;
    assets_layout = fs::exists(from / "pictures", ec);
  } else if (fs::exists(home.folder / "builtin-disk", ec)) {
    from = home.folder / "builtin-disk";
  } else if (home.buildTree) {
    from = fs::path(MD_SOURCE_DIR) / "assets";
    assets_layout = true;
  } else {
    return fail("the built-in disk's sources are not beside this program (builtin-disk/); name them with --sources");
  }
  if (!write_builtin_disk_folder(from.string(), assets_layout, folder, error)) return fail(error);
  if (TheCli.verbosity >= 1)
    std::printf("%s: the built-in disk's sources; edit them, then run musicdisk-make %s -o NAME\n", folder.c_str(),
                folder.c_str());
  return ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const CliArgs a =
      cli_parse(TheCli, argc, argv, 1, {{"output", 'o', true}, {"programs", 0, true}, {"sources", 0, true}});
  const Home home = find_home(argv[0]);
  const std::vector<std::string>& p = a.positional;
  if (p.size() == 2 && p[0] == "init") {
    if (a.has("output") || a.has("programs")) cli_usage_error(TheCli, "init takes only --sources");
    return init(home, p[1], a.value("sources"));
  }
  if (p.size() != 1) cli_usage_error(TheCli, p.empty() ? "no disk folder given" : "one disk folder, please");
  if (!a.has("output")) cli_usage_error(TheCli, "no output named (-o NAME)");
  if (a.has("sources")) cli_usage_error(TheCli, "--sources is for init");
  return make(home, p[0], *a.value("output"), a.value("programs"));
}
