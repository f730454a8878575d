// SPDX-License-Identifier: MIT
// PROBESIM_CONTROL: a Unix stream socket on which the bench takes one command per line and
// answers each with one line, served by one thread of its own.
//
// The socket is made when the channel is: a socket left at the path that nobody listens on is
// removed first; anything else there (a file, a folder, a FIFO, a symbolic link, a socket another
// process listens on) is left alone and the channel does not start (error() says why). The socket
// file is made for its owner only (mode 0600) and removed again by Stop, unless something else
// has taken its name meanwhile.
//
// Threads: the handler runs on the channel's thread, one line at a time, and its reply is sent
// only when it has returned. Stop (and the destructor) wakes that thread and joins it; it is never
// detached.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <thread>

namespace probesim {

class ControlChannel {
 public:
  // A reply line without its newline, for a command line without its newline (and "\r").
  using Handler = std::function<std::string(const std::string& line)>;

  // Up to this many clients are served at once; further connections wait to be accepted.
  static constexpr size_t kMaxClients = 16;
  // A longer line is answered with an error and otherwise ignored.
  static constexpr size_t kMaxLine = 4096;

  ControlChannel(const std::string& path, Handler handler);
  ~ControlChannel() { Stop(); }
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  // Empty when the channel serves; else "<path>: <why>".
  const std::string& error() const { return error_; }
  void Stop();

 private:
  void Serve();

  std::string path_;
  Handler handler_;
  std::string error_;
  int listenFd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  dev_t device_ = 0;  // of the socket file this channel made
  ino_t inode_ = 0;
  std::thread thread_;
};

}  // namespace probesim
