#include "tools/common/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string reason(int code) { return std::strerror(code); }

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a chain of symbolic links ends at; the path itself when it is no link. A link
// to a file that does not exist yet gives the name the file will have.
std::string follow_links(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat s;
    if (lstat(at.c_str(), &s) != 0 || !S_ISLNK(s.st_mode)) return at;
    char buffer[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), buffer, sizeof buffer - 1);
    if (n <= 0) return at;
    const std::string link(buffer, static_cast<size_t>(n));
    at = link[0] == '/' ? link : folder_of(at) + "/" + link;
  }
  return at;
}

// The paths to remove on a signal, in slots the handler reads without locks or allocation.
struct CleanupSlot {
  char path[PATH_MAX];
  volatile sig_atomic_t used;
};
constexpr int CleanupSlots = 16;
CleanupSlot Cleanup[CleanupSlots];

extern "C" void remove_and_end(int signal_number) {
  for (CleanupSlot& c : Cleanup)
    if (c.used) unlink(c.path);
  for (CleanupSlot& c : Cleanup)
    if (c.used) rmdir(c.path);
  // Ended by the same signal, so the caller sees what ended it.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

void install_cleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : {SIGINT, SIGTERM}) {
    struct sigaction old {};
    if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction now {};
    now.sa_handler = remove_and_end;
    sigemptyset(&now.sa_mask);
    sigaction(signal_number, &now, nullptr);
  }
}

}  // namespace

void remove_on_signal(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return;
  install_cleanup();
  for (CleanupSlot& c : Cleanup) {
    if (c.used) continue;
    std::memcpy(c.path, path.c_str(), path.size() + 1);
    c.used = 1;
    return;
  }
}

void keep_after_signal(const std::string& path) {
  for (CleanupSlot& c : Cleanup)
    if (c.used && path == c.path) c.used = 0;
}

bool read_input(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, InputLimit limit) {
  const bool standard = path == "-";
  const int fd = standard ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  auto failed = [&](int code) {
    error = "cannot read " + display_name(path, false) + ": " + reason(code);
    if (!standard && fd >= 0) close(fd);
    return false;
  };
  if (fd < 0) return failed(errno);
  struct stat s;
  if (fstat(fd, &s) != 0) return failed(errno);
  if (S_ISDIR(s.st_mode)) return failed(EISDIR);
  auto too_large = [&] {
    error = "cannot read " + display_name(path, false) + ": " + input_too_large(limit);
    bytes.clear();
    bytes.shrink_to_fit();
    if (!standard) close(fd);
    return false;
  };
  bytes.clear();
  if (S_ISREG(s.st_mode) && s.st_size > 0) {
    if (static_cast<uint64_t>(s.st_size) > limit.bytes) return too_large();
    bytes.reserve(static_cast<size_t>(s.st_size));
  }
  uint8_t chunk[65536];
  while (true) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) break;
    // Pipes, devices and files that grow while read are held to the limit as they come.
    if (static_cast<size_t>(n) > limit.bytes - bytes.size()) return too_large();
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  if (!standard) close(fd);
  return true;
}

bool open_output(const std::string& path, OutputFile& out, std::string& error, OutputKind kind) {
  out = OutputFile{};
  out.path = path;
  auto failed = [&](int code) {
    error = "cannot write " + display_name(path, true) + ": " + reason(code);
    discard_output(out);
    return false;
  };
  if (path == "-") {
    out.fd = STDOUT_FILENO;
    return true;
  }
  const std::string target = follow_links(path);
  struct stat s;
  if (stat(target.c_str(), &s) == 0) {
    if (S_ISDIR(s.st_mode)) return failed(EISDIR);
    if (!S_ISREG(s.st_mode)) {
      // A device, a FIFO or a socket: written as it is, never replaced.
      out.fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
      if (out.fd < 0) return failed(errno);
      return true;
    }
  } else if (errno != ENOENT) {
    return failed(errno);
  }
  std::string temporary = folder_of(target) + "/." + base_of(target) + ".XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  // The temporary is made and listed for removal with SIGINT and SIGTERM held back, so a
  // signal that comes as soon as the file exists still finds it listed.
  sigset_t held, before;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigprocmask(SIG_BLOCK, &held, &before);
  out.fd = mkstemp(name.data());
  const int made = errno;
  if (out.fd >= 0) remove_on_signal(name.data());
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (out.fd < 0) return failed(made);
  out.temporary = name.data();
  out.target = target;
  // mkstemp makes the file private; give it the mode the old file had, or the one a new
  // file gets under the umask. A program may be run by whoever may read it.
  const mode_t mask = umask(0);
  umask(mask);
  mode_t mode = 0666;
  if (stat(target.c_str(), &s) == 0) {
    mode = s.st_mode & 07777;
  } else {
    mode &= ~mask;
  }
  if (kind == OutputKind::Program) mode |= ((mode & 0444) >> 2) & ~mask;
  if (fchmod(out.fd, mode) != 0) return failed(errno);
  return true;
}

bool write_output(OutputFile& out, const void* data, size_t size, std::string& error) {
  const uint8_t* at = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = write(out.fd, at, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot write " + display_name(out.path, true) + ": " + reason(errno);
      return false;
    }
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool finish_output(OutputFile& out, std::string& error) {
  if (out.fd < 0) return false;
  if (out.fd == STDOUT_FILENO) {
    out.fd = -1;
    return true;
  }
  const int fd = out.fd;
  out.fd = -1;
  if (close(fd) != 0) {
    error = "cannot write " + out.path + ": " + reason(errno);
    discard_output(out);
    return false;
  }
  if (!out.temporary.empty()) {
    if (rename(out.temporary.c_str(), out.target.c_str()) != 0) {
      error = "cannot write " + out.path + ": " + reason(errno);
      discard_output(out);
      return false;
    }
    keep_after_signal(out.temporary);
    out.temporary.clear();
  }
  return true;
}

void discard_output(OutputFile& out) {
  if (out.fd >= 0 && out.fd != STDOUT_FILENO) close(out.fd);
  out.fd = -1;
  if (!out.temporary.empty()) {
    unlink(out.temporary.c_str());
    keep_after_signal(out.temporary);
  }
  out.temporary.clear();
}

bool is_same_file(const std::string& input, const std::string& output, std::string& error) {
  if (input == "-" || output == "-") return false;
  struct stat a, b;
  if (stat(input.c_str(), &a) != 0 || stat(output.c_str(), &b) != 0) return false;
  if (a.st_dev != b.st_dev || a.st_ino != b.st_ino) return false;
  // The same device node may be read and written (a test pipe, /dev/stdin); a file may not.
  if (!S_ISREG(a.st_mode)) return false;
  error = output + " is the input file itself; writing it would destroy " + input;
  return true;
}
