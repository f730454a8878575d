// SPDX-License-Identifier: MIT
#include "testing/scripted_link.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zolt::testing {
namespace {
std::atomic<ScriptedLink*> active{nullptr};
}

ScriptedLink::ScriptedLink() {
  ScriptedLink* expected = nullptr;
  if (!active.compare_exchange_strong(expected, this)) {
    std::fprintf(stderr, "ScriptedLink: only one may exist at a time\n");
    std::abort();
  }
  link_.OpenDevice = &ScriptedLink::Open;
  link_.Write = &ScriptedLink::Write;
  link_.Read = &ScriptedLink::Read;
  link_.Close = &ScriptedLink::Close;
}

ScriptedLink::~ScriptedLink() {
  active.store(nullptr);
}

ScriptedLink::Device* ScriptedLink::Find(int device) {
  return device >= 0 && device < kMaxProbes ? &devices_[device] : nullptr;
}

void ScriptedLink::SetOpenResult(int device, int result) {
  std::lock_guard l(mu_);
  devices_.at(device).openResult = result;
}
void ScriptedLink::SetDefaultWriteResult(int device, int result) {
  std::lock_guard l(mu_);
  devices_.at(device).defaultWriteResult = result;
}
void ScriptedLink::QueueWriteResult(int device, int result) {
  std::lock_guard l(mu_);
  devices_.at(device).writeResults.push_back(result);
}
void ScriptedLink::QueueReadReply(int device, ReadReply reply) {
  std::lock_guard l(mu_);
  devices_.at(device).readReplies.push_back(std::move(reply));
}
void ScriptedLink::QueueReadBytes(int device, std::vector<uint8_t> bytes) {
  QueueReadReply(device, ReadReply{1, std::move(bytes)});
}
void ScriptedLink::SetResponder(int device, Responder responder) {
  std::lock_guard l(mu_);
  devices_.at(device).responder = std::move(responder);
}
void ScriptedLink::SetResponderForAll(const Responder& responder) {
  std::lock_guard l(mu_);
  for (Device& d : devices_) d.responder = responder;
}

std::vector<LinkCall> ScriptedLink::Calls() const {
  std::lock_guard l(mu_);
  return calls_;
}
std::vector<LinkCall> ScriptedLink::Calls(int device) const {
  std::lock_guard l(mu_);
  std::vector<LinkCall> out;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(out),
               [device](const LinkCall& c) { return c.device == device; });
  return out;
}
std::vector<std::vector<uint8_t>> ScriptedLink::Writes(int device) const {
  std::vector<std::vector<uint8_t>> out;
  for (const LinkCall& c : Calls(device)) {
    if (c.kind == LinkCall::Kind::kWrite) out.push_back(c.bytes);
  }
  return out;
}
void ScriptedLink::ClearCalls() {
  std::lock_guard l(mu_);
  calls_.clear();
}

int ScriptedLink::Open(int productId, int device) {
  ScriptedLink* self = active.load();
  if (self == nullptr) return 0;
  std::lock_guard l(self->mu_);
  Device* d = self->Find(device);
  const int result = d != nullptr ? d->openResult : 0;
  self->calls_.push_back({LinkCall::Kind::kOpen, device, productId, 0, 0, {}, result});
  return result;
}

int ScriptedLink::Write(int device, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  ScriptedLink* self = active.load();
  if (self == nullptr) return 0;
  std::lock_guard l(self->mu_);
  Device* d = self->Find(device);
  std::vector<uint8_t> sent(buffer, buffer + std::max(length, 0));
  int result = 0;
  if (d != nullptr) {
    result = d->defaultWriteResult;
    if (!d->writeResults.empty()) {
      result = d->writeResults.front();
      d->writeResults.pop_front();
    }
    d->lastCommand = sent;
  }
  if (transferred != nullptr) *transferred = result != 0 ? length : 0;
  self->calls_.push_back({LinkCall::Kind::kWrite, device, 0, length, timeoutMs, std::move(sent), result});
  return result;
}

int ScriptedLink::Read(int device, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  ScriptedLink* self = active.load();
  if (self == nullptr) return 0;
  ReadReply reply{0, {}};
  Responder responder;
  std::vector<uint8_t> lastCommand;
  {
    std::lock_guard l(self->mu_);
    Device* d = self->Find(device);
    if (d != nullptr && !d->readReplies.empty()) {
      reply = std::move(d->readReplies.front());
      d->readReplies.pop_front();
    } else if (d != nullptr && d->responder) {
      responder = d->responder;
      lastCommand = d->lastCommand;
    }
  }
  if (responder) reply = responder(device, lastCommand, length);
  const int count = std::clamp(static_cast<int>(reply.bytes.size()), 0, std::max(length, 0));
  std::copy_n(reply.bytes.begin(), count, buffer);
  if (transferred != nullptr) *transferred = count;
  std::lock_guard l(self->mu_);
  self->calls_.push_back({LinkCall::Kind::kRead, device, 0, length, timeoutMs,
                          std::vector<uint8_t>(reply.bytes.begin(), reply.bytes.begin() + count),
                          reply.result});
  return reply.result;
}

void ScriptedLink::Close(int device) {
  ScriptedLink* self = active.load();
  if (self == nullptr) return;
  std::lock_guard l(self->mu_);
  self->calls_.push_back({LinkCall::Kind::kClose, device, 0, 0, 0, {}, 0});
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char part[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(part, sizeof part, i == 0 ? "%02x" : " %02x", bytes[i]);
    out += part;
  }
  return out;
}

}  // namespace zolt::testing
