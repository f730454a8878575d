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
//     location <index> <size>       -> "location <index> <result> [<buffer text>]" (DeviceLocation with a
//                                      buffer of <size> bytes; "overrun" is added when it wrote past them;
//                                      size "null": a null buffer and size 0)
//     control <command>             -> "control <reply>": one line to the bench's PROBESIM_CONTROL socket
//                                      and its one-line answer (5 s time-out)
//     writechunks <index> <hex|null> <length> <count> <timeout> [nullout]
//                                   -> "writechunks <index> <result> <completed> <failedResult>
//                                   <failedTransferred>"
//                                      (WriteChunks of the bytes, zero-padded to count x length; "null": a
//                                      null buffer; "nullout": a null `completed`; "missing" without the
//                                      export)
//     stream <index> <blocks> <chunks per call> <timeout>
//                                   -> "stream <index> <ok> <block response codes, hex> us=<microseconds>":
//                                      <blocks> x 2048 bytes of download data (byte i: (i x 131 + i / 2048)
//                                      mod 256), a 5-byte read after every 2048 bytes; 0 chunks per call: one
//                                      Write per 64-byte chunk, else WriteChunks of that many 64-byte chunks
#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using OpenDeviceFn = int (*)(int, int);
using TransferFn = int (*)(int, unsigned char*, int, int*, int);
using CloseFn = void (*)(int);
using LocationFn = int (*)(int, char*, int);
using WriteChunksFn = int (*)(int, unsigned char*, int, int, int, int*, int*, int*);

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

// Sends one command line to the bench's control socket and returns its reply line (without the
// newline), or "(no reply: <why>)".
std::string Control(const std::string& command) {
  const char* path = std::getenv("PROBESIM_CONTROL");
  if (!path || std::strlen(path) >= sizeof(sockaddr_un{}.sun_path)) return "(no reply: PROBESIM_CONTROL)";
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    return std::string("(no reply: connect: ") + std::strerror(errno) + ")";
  }
  const std::string line = command + "\n";
  if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    ::close(fd);
    return "(no reply: send)";
  }
  std::string reply;
  char c = 0;
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1 || ::read(fd, &c, 1) != 1) {
      reply = "(no reply: " + reply + ")";
      break;
    }
    if (c == '\n') break;
    reply += c;
  }
  ::close(fd);
  return reply;
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
  // Optional, as for the programmer.
  auto location = reinterpret_cast<LocationFn>(dlsym(library, "DeviceLocation"));
  auto writeChunks = reinterpret_cast<WriteChunksFn>(dlsym(library, "WriteChunks"));
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
    } else if (call == "location") {
      const int index = Number(argument());
      const std::string sizeText = argument();
      if (!location) {
        std::printf("location %d missing\n", index);
      } else if (sizeText == "null") {
        std::printf("location %d %d\n", index, location(index, nullptr, 0));
      } else {
        const int size = Number(sizeText.c_str());
        constexpr size_t kGuard = 16;
        std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 0) + kGuard, 'X');
        const int result = location(index, buffer.data(), size);
        const size_t usable = static_cast<size_t>(size > 0 ? size : 0);
        bool overrun = false;
        for (size_t b = usable; b < buffer.size(); ++b) overrun = overrun || buffer[b] != 'X';
        const std::string text = usable > 0 ? std::string(buffer.data(), strnlen(buffer.data(), usable)) : "";
        std::printf("location %d %d [%s]%s\n", index, result, text.c_str(), overrun ? " overrun" : "");
      }
    } else if (call == "writechunks") {
      const int index = Number(argument());
      const std::string hex = argument();
      const int length = Number(argument()), count = Number(argument()), timeout = Number(argument());
      const bool nullOut = i < argc && std::strcmp(argv[i], "nullout") == 0;
      if (nullOut) ++i;
      std::vector<unsigned char> bytes = hex == "null" ? std::vector<unsigned char>{} : FromHex(hex);
      const long long wanted = static_cast<long long>(count) * length;
      if (wanted > 0 && wanted < (1 << 24) && static_cast<long long>(bytes.size()) < wanted)
        bytes.resize(static_cast<size_t>(wanted));
      int completed = -12345, failedResult = -12345, failedTransferred = -12345;
      if (!writeChunks) {
        std::printf("writechunks %d missing\n", index);
      } else {
        const int result = writeChunks(index, hex == "null" ? nullptr : bytes.data(), length, count, timeout,
                                       nullOut ? nullptr : &completed, &failedResult, &failedTransferred);
        std::printf("writechunks %d %d %d %d %d\n", index, result, completed, failedResult,
                    failedTransferred);
      }
    } else if (call == "stream") {
      const int index = Number(argument()), blocks = Number(argument()), perCall = Number(argument()),
                timeout = Number(argument());
      constexpr int kChunk = 64, kBlock = 2048;
      std::vector<unsigned char> data(static_cast<size_t>(blocks > 0 ? blocks : 0) * kBlock);
      for (size_t b = 0; b < data.size(); ++b) data[b] = static_cast<unsigned char>(b * 131 + b / kBlock);
      bool ok = perCall == 0 || (writeChunks && perCall > 0 && (kBlock / kChunk) % perCall == 0);
      std::string codes;
      const auto start = std::chrono::steady_clock::now();
      for (int block = 0; ok && block < blocks; ++block) {
        unsigned char* at = data.data() + static_cast<size_t>(block) * kBlock;
        for (int offset = 0; ok && offset < kBlock;) {
          int count = 0;
          if (perCall == 0) {
            ok = write(index, at + offset, kChunk, &count, timeout) != 0 && count == kChunk;
            offset += kChunk;
          } else {
            int completed = 0, failedResult = 0, failedTransferred = 0;
            ok = writeChunks(index, at + offset, kChunk, perCall, timeout, &completed, &failedResult,
                             &failedTransferred) != 0;
            offset += kChunk * perCall;
          }
        }
        unsigned char answer[5] = {};
        int count = 0;
        ok = ok && read(index, answer, 5, &count, timeout) != 0 && count == 5;
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", ok ? answer[0] : 0);
        codes += pair;
      }
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
              .count();
      std::printf("stream %d %d %s us=%lld\n", index, ok ? 1 : 0, codes.c_str(), static_cast<long long>(us));
    } else if (call == "control") {
      std::printf("control %s\n", Control(argument()).c_str());
    } else {
      std::fprintf(stderr, "unknown call %s\n", call.c_str());
      return 2;
    }
    std::fflush(stdout);
  }
  return 0;
}
