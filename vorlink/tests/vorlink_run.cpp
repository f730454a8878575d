// SPDX-License-Identifier: MIT
// Test helper: loads a libVorlink.so by path, as the programmer does (dlopen, exports bound by
// name), runs the calls named on the command line and prints one line per call. The tests run it
// as a child process so that each load sees its own VORLINK_BENCH / VORLINK_TRACE.
//
//   vorlink_run <library> <call>...
//     open <pid> <index>            -> "open <index> <result>"
//     sweep <pid>                   -> "sweep <16 results> us=<microseconds for the 16 opens>"
//     write <index> <hex> <timeout> -> "write <index> <result> <count>"
//     read <index> <length> <timeout> -> "read <index> <result> <count> <hex of the bytes read>"
//     close <index>                 -> "close <index>"
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using OpenDeviceFn = int (*)(int, int);
using TransferFn = int (*)(int, unsigned char*, int, int*, int);
using CloseFn = void (*)(int);

int Number(const char* text) {
  return static_cast<int>(std::strtol(text, nullptr, 0));
}

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vorlink_run <library> <call>...\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 2;
  }
  auto openDevice = reinterpret_cast<OpenDeviceFn>(dlsym(library, "OpenDevice"));
  auto write = reinterpret_cast<TransferFn>(dlsym(library, "Write"));
  auto read = reinterpret_cast<TransferFn>(dlsym(library, "Read"));
  auto close = reinterpret_cast<CloseFn>(dlsym(library, "Close"));
  if (!openDevice || !write || !read || !close) {
    std::fprintf(stderr, "missing export\n");
    return 2;
  }
  for (int i = 2; i < argc;) {
    const std::string call = argv[i++];
    auto argument = [&]() -> const char* {
      if (i >= argc) {
        std::fprintf(stderr, "%s: missing argument\n", call.c_str());
        std::exit(2);
      }
      return argv[i++];
    };
    if (call == "open") {
      const int pid = Number(argument()), index = Number(argument());
      std::printf("open %d %d\n", index, openDevice(pid, index));
    } else if (call == "sweep") {
      const int pid = Number(argument());
      std::string results;
      const auto start = std::chrono::steady_clock::now();
      for (int index = 0; index < 16; ++index) results += " " + std::to_string(openDevice(pid, index));
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
              .count();
      std::printf("sweep%s us=%lld\n", results.c_str(), static_cast<long long>(us));
    } else if (call == "write") {
      const int index = Number(argument());
      std::vector<unsigned char> bytes = FromHex(argument());
      const int timeout = Number(argument());
      int count = -12345;
      const int result = write(index, bytes.data(), static_cast<int>(bytes.size()), &count, timeout);
      std::printf("write %d %d %d\n", index, result, count);
    } else if (call == "read") {
      const int index = Number(argument()), length = Number(argument()), timeout = Number(argument());
      std::vector<unsigned char> bytes(static_cast<size_t>(length));
      int count = -12345;
      const int result = read(index, bytes.data(), length, &count, timeout);
      std::string hex;
      for (int b = 0; b < count && b < length; ++b) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", bytes[static_cast<size_t>(b)]);
        hex += pair;
      }
      std::printf("read %d %d %d %s\n", index, result, count, hex.c_str());
    } else if (call == "close") {
      const int index = Number(argument());
      close(index);
      std::printf("close %d\n", index);
    } else {
      std::fprintf(stderr, "unknown call %s\n", call.c_str());
      return 2;
    }
    std::fflush(stdout);
  }
  return 0;
}
