// SPDX-License-Identifier: MIT
// Binding the link library at each RUN, and finding the probes whose targets report the
// product's JTAG ID.
#include "probe/identify.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "probe/exchange.h"
#include "probe/firmware_version.h"

namespace zolt {
namespace {

// The directory of the running executable, with its trailing slash; "" if it cannot be told.
std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
  path.resize(n);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Like the application directory on other systems, the executable's own directory comes first:
// a copy there is the one loaded (and its load error reported), else the loader's path is searched.
// A name with a slash is taken as a path. Returns the name or path handed to the loader.
std::string LinkLibraryCandidate(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const std::string besideExecutable = ExecutableDirectory() + name;
  if (besideExecutable != name && access(besideExecutable.c_str(), F_OK) == 0) return besideExecutable;
  return name;
}

// dlopen sets no errno, so the code of the load error box is worked out. The loader's text ends
// in the system's text for the file it could not open (the library or one of its dependencies:
// "cannot open shared object file: No such file or directory"); failing that, the candidate file
// itself is checked; a file that is there and readable but does not load is no valid library.
int LoadErrorCode(const std::string& candidate, const char* reason) {
  const std::string text = reason != nullptr ? reason : "";
  for (int code : {ENOENT, EACCES, ENOTDIR, EISDIR, ELOOP, ENAMETOOLONG, EPERM, EIO, ENOMEM, EMFILE, ENFILE,
                   ENOEXEC, ELIBBAD}) {
    const std::string suffix = std::string(": ") + std::strerror(code);
    if (text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
      return code;
  }
  if (candidate.find('/') != std::string::npos) {
    struct stat status {};
    if (stat(candidate.c_str(), &status) != 0) return errno != 0 ? errno : ENOENT;
    if (S_ISDIR(status.st_mode)) return EISDIR;
    if (access(candidate.c_str(), R_OK) != 0) return EACCES;
  }
  return ENOEXEC;
}

template <typename Fn>
bool BindExport(void* library, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(dlsym(library, name));
  return entry != nullptr;
}

}  // namespace

int BindProbeLink(ProbeLink& link, RunView& op, const std::string& libraryName) {
  const std::string candidate = LinkLibraryCandidate(libraryName);
  dlerror();
  // Never closed: the jobs call through the bound entries for the life of the process.
  void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    const int error = LoadErrorCode(candidate, reason);
    // "%s, failed with error %d: %s", composed without a length limit: the whole reason shows.
    op.ShowErrorMessage(libraryName + ", failed with error " + std::to_string(error) + ": " +
                        (reason != nullptr ? reason : std::strerror(error)));
    return 0;
  }
  // In order; the first missing export ends the bind and leaves the later entries as they were.
  // The same error box names it (code ENOSYS: the library does not provide the function), so
  // that the operator learns which library is incomplete and what it lacks.
  const char* missing = nullptr;
  if (!BindExport(library, "OpenDevice", link.OpenDevice)) {
    missing = "OpenDevice";
  } else if (!BindExport(library, "Write", link.Write)) {
    missing = "Write";
  } else if (!BindExport(library, "Read", link.Read)) {
    missing = "Read";
  } else if (!BindExport(library, "Close", link.Close)) {
    missing = "Close";
  }
  if (missing != nullptr) {
    op.ShowErrorMessage(libraryName + ", failed with error " + std::to_string(ENOSYS) + ": " + candidate +
                        ": undefined symbol: " + missing);
    return 0;
  }
  // Optional: a library with only the four exports leaves them null, silently.
  (void)BindExport(library, "DeviceLocation", link.DeviceLocation);
  (void)BindExport(library, "WriteChunks", link.WriteChunks);
  return 1;
}

int CheckProbeFirmware(const ProbeLink& link, int device, char* version) {
  uint8_t buffer[kFirmwareVersionBufferLength] = {};
  BuildFirmwareVersionCommand(buffer);
  if (!WriteCommand(link, device, buffer, kFirmwareVersionCommandLength)) return -1;
  if (!ReadResponse(link, device, buffer, kFirmwareVersionResponseLength)) return -1;
  return TakeFirmwareVersion(buffer, version) ? 0 : -1;
}

namespace {

// Opens, checks, resets and reads the target's JTAG ID of one device index, and closes it again.
bool ProbeReportsJtagId(const ProbeCommands& probe, int device, const uint8_t param[4],
                        uint32_t expectedJtagId) {
  const ProbeLink& link = probe.link();
  if (link.OpenDevice == nullptr || link.OpenDevice(kProbeProductId, device) == 0) return false;
  char version[8];
  bool matches = false;
  if (CheckProbeFirmware(link, device, version) == 0 && probe.JtagReset(device).ok() &&
      probe.JtagTestLogicReset(device).ok()) {
    // ReadJtagId's failure value 0 is never a JTAG ID (an ID's bit 0 is always 1), so a failed
    // read cannot pass for a match.
    const uint32_t id = probe.ReadJtagId(device, param);
    matches = id != 0 && id == expectedJtagId;
  }
  if (link.Close != nullptr) link.Close(device);
  return matches;
}

int Identify(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
             uint32_t expectedJtagId, bool firstOnly) {
  if (slots == nullptr || count <= 0) return 0;
  std::memset(slots, 0, count);
  int found = 0;
  for (int device = 0; device < count; ++device) {
    if (!ProbeReportsJtagId(probe, device, param, expectedJtagId)) continue;
    slots[device] = 1;
    ++found;
    if (firstOnly) break;
  }
  return found;
}

}  // namespace

int IdentifyFirstProbe(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
                       uint32_t expectedJtagId) {
  return Identify(probe, slots, count, param, expectedJtagId, true);
}

int IdentifyAllProbes(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
                      uint32_t expectedJtagId) {
  return Identify(probe, slots, count, param, expectedJtagId, false);
}

}  // namespace zolt
