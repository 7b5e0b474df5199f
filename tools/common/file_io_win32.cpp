// file_io.h on Windows, with Win32 file calls and the same promises as on POSIX systems:
// limits held while reading, outputs written whole through a temporary in the same folder
// and moved over the old file, and the temporaries removed when the console is interrupted.
// Paths are in the system's code page, as std::filesystem takes narrow strings here.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "tools/common/file_io.h"

namespace {

// The system's message for an error code, without its line end and full stop.
std::string reason(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 && text ? std::string(text, n) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

std::wstring wide(const std::string& path) { return std::filesystem::path(path).wstring(); }

// The paths to remove on an interrupt. The console's handler runs on a thread of its own, so
// the slots are claimed and read through atomics and never move.
struct CleanupSlot {
  wchar_t path[MAX_PATH * 4];
  std::atomic<bool> used{false};
};
constexpr int CleanupSlots = 16;
CleanupSlot Cleanup[CleanupSlots];

BOOL WINAPI remove_and_end(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  for (CleanupSlot& c : Cleanup)
    if (c.used) DeleteFileW(c.path);
  for (CleanupSlot& c : Cleanup)
    if (c.used) RemoveDirectoryW(c.path);
  return FALSE;  // the default handler then ends the program as it would have
}

// A handle of an existing path, opened only to ask what it is (a folder opens too).
HANDLE open_to_ask(const std::string& path) {
  return CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_folder(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash + 1);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.find_last_of("/\\:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void remove_on_signal(const std::string& path) {
  const std::wstring w = wide(path);
  if (w.empty() || w.size() >= MAX_PATH * 4) return;
  static const bool installed = SetConsoleCtrlHandler(remove_and_end, TRUE);
  (void)installed;
  for (CleanupSlot& c : Cleanup) {
    if (c.used) continue;
    std::copy(w.c_str(), w.c_str() + w.size() + 1, c.path);
    c.used = true;
    return;
  }
}

void keep_after_signal(const std::string& path) {
  const std::wstring w = wide(path);
  for (CleanupSlot& c : Cleanup)
    if (c.used && w == c.path) c.used = false;
}

bool read_input(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, InputLimit limit) {
  const bool standard = path == "-";
  HANDLE h = standard ? GetStdHandle(STD_INPUT_HANDLE)
                      : CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  auto end = [&](bool ok) {
    if (!standard && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) {
      bytes.clear();
      bytes.shrink_to_fit();
    }
    return ok;
  };
  auto failed = [&](const std::string& why) {
    error = "cannot read " + display_name(path, false) + ": " + why;
    return end(false);
  };
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return failed(reason(GetLastError()));
  if (is_folder(h)) return failed("Is a directory");
  bytes.clear();
  LARGE_INTEGER size;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    if (static_cast<uint64_t>(size.QuadPart) > limit.bytes) return failed(input_too_large(limit));
    bytes.reserve(static_cast<size_t>(size.QuadPart));
  }
  uint8_t chunk[65536];
  while (true) {
    DWORD n = 0;
    if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;  // the end of a pipe
      return failed(reason(code));
    }
    if (n == 0) break;
    // Pipes, devices and files that grow while read are held to the limit as they come.
    if (n > limit.bytes - bytes.size()) return failed(input_too_large(limit));
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return end(true);
}

bool open_output(const std::string& path, OutputFile& out, std::string& error, OutputKind) {
  out = OutputFile{};
  out.path = path;
  auto failed = [&](const std::string& why) {
    error = "cannot write " + display_name(path, true) + ": " + why;
    discard_output(out);
    return false;
  };
  if (path == "-") {
    out.handle = GetStdHandle(STD_OUTPUT_HANDLE);
    out.straight = true;
    return true;
  }
  if (HANDLE h = open_to_ask(path); h != INVALID_HANDLE_VALUE) {
    const bool folder = is_folder(h);
    const bool file = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    if (folder) return failed("Is a directory");
    if (!file) {
      // A device (NUL, CON, a pipe): written as it is, never replaced.
      out.handle = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
      if (out.handle == INVALID_HANDLE_VALUE) return failed(reason(GetLastError()));
      out.straight = true;
      return true;
    }
  } else if (const DWORD code = GetLastError(); code != ERROR_FILE_NOT_FOUND) {
    return failed(reason(code));
  }
  // A name no other file has: the program's id and a count, tried again while taken.
  static std::atomic<unsigned> count{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = folder_of(path) + "." + base_of(path) + "." +
                                  std::to_string(GetCurrentProcessId()) + "-" + std::to_string(count++);
    out.handle = CreateFileW(wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out.handle != INVALID_HANDLE_VALUE) {
      remove_on_signal(temporary);
      out.temporary = temporary;
      out.target = path;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return failed(reason(GetLastError()));
  }
  return failed("no free name for a temporary file");
}

bool write_output(OutputFile& out, const void* data, size_t size, std::string& error) {
  const uint8_t* at = static_cast<const uint8_t*>(data);
  while (size > 0) {
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, size_t{1} << 30));
    if (!WriteFile(out.handle, at, piece, &n, nullptr)) {
      error = "cannot write " + display_name(out.path, true) + ": " + reason(GetLastError());
      return false;
    }
    at += n;
    size -= n;
  }
  return true;
}

bool finish_output(OutputFile& out, std::string& error) {
  if (out.handle == nullptr) return false;
  const HANDLE h = out.handle;
  out.handle = nullptr;
  if (out.straight) {
    if (out.path != "-") CloseHandle(h);
    return true;
  }
  if (!CloseHandle(h)) {
    error = "cannot write " + out.path + ": " + reason(GetLastError());
    discard_output(out);
    return false;
  }
  if (!MoveFileExW(wide(out.temporary).c_str(), wide(out.target).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot write " + out.path + ": " + reason(GetLastError());
    discard_output(out);
    return false;
  }
  keep_after_signal(out.temporary);
  out.temporary.clear();
  return true;
}

void discard_output(OutputFile& out) {
  if (out.handle != nullptr && out.handle != INVALID_HANDLE_VALUE && out.path != "-") CloseHandle(out.handle);
  out.handle = nullptr;
  if (!out.temporary.empty()) {
    DeleteFileW(wide(out.temporary).c_str());
    keep_after_signal(out.temporary);
  }
  out.temporary.clear();
}

bool is_same_file(const std::string& input, const std::string& output, std::string& error) {
  if (input == "-" || output == "-") return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  bool same = false;
  HANDLE hi = open_to_ask(input), ho = open_to_ask(output);
  if (hi != INVALID_HANDLE_VALUE && ho != INVALID_HANDLE_VALUE && GetFileType(hi) == FILE_TYPE_DISK &&
      GetFileInformationByHandle(hi, &a) && GetFileInformationByHandle(ho, &b))
    same = a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
  if (hi != INVALID_HANDLE_VALUE) CloseHandle(hi);
  if (ho != INVALID_HANDLE_VALUE) CloseHandle(ho);
  if (same) error = output + " is the input file itself; writing it would destroy " + input;
  return same;
}
