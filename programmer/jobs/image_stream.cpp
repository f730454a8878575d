// SPDX-License-Identifier: MIT
#include "jobs/image_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/image_size.h"
#include "jobs/crc32.h"
#include "jobs/job_steps.h"
#include "jobs/text_format.h"
#include "probe/download_exchange.h"
#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

constexpr int kChunkBytes = 64;
constexpr uint64_t kBlockBytes = 2048;
constexpr char kStopMarker[] = "USBJTAG_Down_STOP";  // 17 characters and the zero: 18 bytes

// Closes the descriptor on every path out of the stream.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Hands out the file's bytes chunk by chunk from a read-ahead buffer, so that a chunk costs
// neither a system call nor a copy: the chunk is sent from the buffer itself (and the stop marker
// written over it there). Lives on the job's stack; allocates nothing.
class ChunkReader {
 public:
  explicit ChunkReader(int fd) : fd_(fd) {}

  // The next `length` (at most 64) bytes, valid until the next call; null when the file ends or
  // fails first.
  uint8_t* Next(size_t length) {
    if (end_ - begin_ < length && !Fill(length)) return nullptr;
    uint8_t* chunk = buffer_ + begin_;
    begin_ += length;
    return chunk;
  }

  // The next `length` (at most one block) bytes in one piece, valid until the next call. When the
  // file ends or fails first, `*got` tells how many of them there are (all are taken).
  uint8_t* NextBlock(size_t length, size_t* got) {
    if (end_ - begin_ < length) (void)Fill(length);
    *got = std::min(length, end_ - begin_);
    uint8_t* block = buffer_ + begin_;
    begin_ += *got;
    return block;
  }

 private:
  bool Fill(size_t length) {
    std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < length) {
      const ssize_t n = ::read(fd_, buffer_ + end_, sizeof buffer_ - end_);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      end_ += static_cast<size_t>(n);
    }
    return true;
  }

  int fd_;
  size_t begin_ = 0, end_ = 0;
  uint8_t buffer_[64 * 1024];
};

// Sends `count` 64-byte chunks from `data` with transfers in flight. A chunk the link did not take
// whole is passed over, as a failed Write of the chunk-by-chunk path is, and the chunks after it
// still go out; the block response tells whether the probe got them all. Whatever the library
// reports, no chunk is sent twice and every call moves on by at least one chunk.
void SendChunksInFlight(const ProbeLink& link, int device, uint8_t* data, int count) {
  int next = 0;
  while (next < count) {
    int completed = 0, failedResult = 0, failedTransferred = 0;
    if (link.WriteChunks(device, data + next * kChunkBytes, kChunkBytes, count - next, kDataChunkTimeoutMs,
                         &completed, &failedResult, &failedTransferred) != 0)
      return;
    next += std::clamp(completed, 0, count - next - 1) + 1;
  }
}

}  // namespace

StreamResult StreamImageFile(JobContext& ctx, RunView& op, const StreamRequest& request, uint8_t* command,
                             bool withCrc) {
  StreamResult result;
  const ProbeLink& link = ctx.link;
  const RunSettings& settings = ctx.settings;
  const int device = request.device;
  const char* path = request.path.c_str();

  // Non-blocking so that a FIFO named by mistake cannot hang the job at open; only regular files
  // are accepted (a directory or a device is "Cannot open" as a missing file is).
  FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  const ImageSize measured = MeasureImage(file.get());
  if (measured.kind == ImageSize::Kind::kNotOpened) {
    op.Append(Format("Cannot open '%s'", path));
    result.outcome = StreamOutcome::kNotOpened;
    result.failureText = Format("Cannot open '%s'", path);
    return result;
  }
  const uint64_t size64 = measured.bytes;
  result.fileSize = size64;
  // DownloadDataInfo carries the size in 32 bits; a larger file would be announced truncated.
  if (measured.kind == ImageSize::Kind::kTooLarge) {
    result.failureText = Format("  DEVICE #%d: '%s' is too large (4 GiB or more)\r\n", device, path);
    op.Append(result.failureText);
    result.outcome = StreamOutcome::kFailed;
    return result;
  }
  // The erase would wipe part of an image this job wrote before: refuse the file untouched.
  if (request.written != nullptr && request.written->Overlaps(request.block, size64)) {
    result.failureText = Format("  DEVICE #%d: '%s' overlaps an image written before\r\n", device, path);
    op.Append(result.failureText);
    result.outcome = StreamOutcome::kFailed;
    return result;
  }
  const uint32_t fileSize = static_cast<uint32_t>(size64);
  const char* displayName = DisplayName(path);

  const ProbeCommands probe(link, op);
  const DownloadDataInfo info{static_cast<uint8_t>(settings.flashTypeCode), settings.norOffset, request.block,
                              fileSize, ctx.verify.load()};
  const CommandResult announced = probe.AnnounceDownload(device, info, command);
  result.announced = announced.written();
  if (!announced.ok()) {
    result.failureText = announced.text();
    result.outcome = announced.failedStep() == CommandStep::kRead ? StreamOutcome::kNoFirstResponse
                                                                  : StreamOutcome::kFailed;
    return result;
  }

  op.Append(Format("  DEVICE #%d: Downloading to sector #%d (%s)\r\n", device,
                   static_cast<int>(request.block), displayName));

  ChunkReader reader(file.get());
  uint32_t remaining = fileSize;
  uint32_t sent = 0;
  uint32_t crc = kCrc32Initial;
  bool failed = false;
  bool last = false;
  // The probe answers at most once per block (after its 2048th byte and after the file's last).
  auto readBlockResponse = [&] {
    if (!ReadResponse(link, device, command, kDownloadResponseLength, kBlockResponseTimeoutMs)) {
      result.failureText = "  ERROR, File Downloading Response!\r\n";
      op.Append(result.failureText);
      failed = true;
      last = true;
    } else if (command[0] == kDownloadFinished) {
      last = true;
    } else if (command[0] != kProbeAck) {
      result.failureText = ReportDownloadError(op, command, device);
      failed = true;
      last = true;
    }
  };
  auto markStop = [&](uint8_t* data, uint32_t chunk) {
    // A chunk shorter than the marker gets the marker's start; the bytes after it in the buffer
    // are never sent.
    std::memcpy(data, kStopMarker, std::min<size_t>(sizeof kStopMarker, chunk));
    result.stopMarked = true;
    op.Append(Format("  DEVICE #%d: Download stopping, Please wait ... \r\n", device));
  };
  auto cannotRead = [&] {
    result.failureText = Format("  DEVICE #%d: Cannot read '%s'\r\n", device, path);
    op.Append(result.failureText);
    failed = true;
  };

  if (ctx.transfersInFlight && link.WriteChunks != nullptr) {
    // A block at a time: its full chunks go out in one WriteChunks call, all in flight, and a short
    // last chunk (the file's tail) after them with a plain Write. The wire sees the same chunks,
    // bytes and order as one Write per chunk.
    do {
      const uint32_t blockLength = remaining < kBlockBytes ? remaining : static_cast<uint32_t>(kBlockBytes);
      size_t got = 0;
      uint8_t* data = reader.NextBlock(blockLength, &got);
      // A file that shrank or fails to read sends only the whole chunks it still gave, as the
      // chunk-by-chunk path does before it gives up.
      const bool whole = got == blockLength;
      const uint32_t fullChunks = (whole ? blockLength : static_cast<uint32_t>(got)) / kChunkBytes;
      const uint32_t tail = whole ? blockLength % kChunkBytes : 0;
      const bool hasTail = whole && (tail != 0 || blockLength == 0);
      const uint32_t length = fullChunks * kChunkBytes + tail;
      if (fullChunks != 0 || hasTail) {
        if (ctx.stopRequested.load() != 0) markStop(data, fullChunks != 0 ? kChunkBytes : tail);
        SendChunksInFlight(link, device, data, static_cast<int>(fullChunks));
        if (hasTail)
          (void)WriteCommand(link, device, data + length - tail, static_cast<int>(tail), kDataChunkTimeoutMs);
        if (withCrc) crc = Crc32Update(crc, data, length);
        sent += length;
        remaining -= length;
      }
      if (!whole) {
        if (length != 0) op.UpdateFileProgress(device, request.file, sent, fileSize);
        cannotRead();
        break;
      }
      readBlockResponse();
      op.UpdateFileProgress(device, request.file, sent, fileSize);
    } while (remaining != 0 && !last);
  } else {
    do {
      const uint32_t chunk = remaining < kChunkBytes ? remaining : kChunkBytes;
      // A file that shrank or fails to read ends here: the probe never receives fewer bytes than
      // DownloadDataInfo and the progress counters claim.
      uint8_t* data = reader.Next(chunk);
      if (data == nullptr) {
        cannotRead();
        break;
      }
      remaining -= chunk;
      if (sent % kBlockBytes == 0 && ctx.stopRequested.load() != 0) markStop(data, chunk);
      // A lost chunk shows in the next block response.
      (void)WriteCommand(link, device, data, static_cast<int>(chunk), kDataChunkTimeoutMs);
      if (withCrc) crc = Crc32Update(crc, data, chunk);
      sent += chunk;
      if ((sent != 0 && sent % kBlockBytes == 0) || remaining == 0) readBlockResponse();
      op.UpdateFileProgress(device, request.file, sent, fileSize);
    } while (remaining != 0 && !last);
  }

  result.sentBytes = sent;
  result.crc32 = Crc32Final(crc);
  if (failed) {
    result.outcome = StreamOutcome::kFailed;
    return result;
  }
  const uint32_t elapsedSeconds = (ctx.clock.NowMs() - request.jobStartMs) / 1000;
  op.Append(Format("  DEVICE #%d: Downloading done.(%d[s], %s)\r\n", device, static_cast<int>(elapsedSeconds),
                   displayName));
  result.outcome = StreamOutcome::kDone;
  return result;
}

}  // namespace zolt
