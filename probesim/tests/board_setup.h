// SPDX-License-Identifier: MIT
// Set-up sequences a host runs before a board's flash answers, step by step, so tests can run
// them whole or leave a step out.
#pragma once

#include "host.h"

namespace probesim::test {

inline constexpr uint8_t kNand = 0x21;
inline constexpr uint8_t kNor = 0x22;

inline void Resets(Host& h) {
  h.Exchange(Host::Short(0x01), 5);
  h.Exchange(Host::Short(0x02), 5);
}

// EXTEST, boundary image and pin map for a boundary-scan board.
inline void BoundarySetup(Host& h, Product product, const std::vector<PinMapField>& map) {
  EXPECT_EQ(h.Code(Host::Short(0x04)), 'Q');
  EXPECT_EQ(h.Code(Host::Prefixed(0x12, Model(product).image)), 'Q');
  EXPECT_EQ(h.Code(Host::Prefixed(0x13, PinMapBytes(map))), 'Q');
}

inline void DebugScans(Host& h) {
  h.Exchange(Host::Prefixed(0x05, {0, 0, 0, 0, 0}), 5);
  h.Exchange(Host::Prefixed(0x05, {1, 0, 0, 1, 0, 1}), 5);
  h.Exchange(Host::Prefixed(0x05, {0, 0, 0, 1, 1}), 5);
}

inline uint32_t ReadWord(Host& h, uint32_t address) {
  auto a = h.Exchange(Host::WordRead(address), 5);
  if (!a || a->size() != 5) return 0xDEADBEEF;
  return static_cast<uint32_t>((*a)[1] | ((*a)[2] << 8) | ((*a)[3] << 16) | ((*a)[4] << 24));
}

// TARVIS NOR: EXTEST-debug, JTAG type 1, debug mode, flash configuration register.
inline void TarvisDebugSetup(Host& h) {
  h.Exchange(Host::Short(0x04, {1, 0, 0, 1}), 5);
  EXPECT_EQ(h.Code(Host::Short(0x03, {1, 0, 0, 0})), 'Q');
  DebugScans(h);
  EXPECT_EQ(h.Code(Host::WordWrite(0x80000410, 0x5550)), 'Q');
}

// SOLANT NOR: EXTEST, (empty) boundary records, JTAG type 1, debug mode, configuration register.
inline void SolantDebugSetup(Host& h) {
  h.Exchange(Host::Short(0x04), 5);
  h.Exchange(Host::Prefixed(0x12, {}), 5);
  h.Exchange(Host::Prefixed(0x13, Bytes(216, 0)), 5);
  EXPECT_EQ(h.Code(Host::Short(0x03, {1, 0, 0, 0})), 'Q');
  DebugScans(h);
  EXPECT_EQ(h.Code(Host::WordWrite(0x80000400, 0x2220)), 'Q');
}

inline void SetFlashInfo(Host& h, uint8_t type, const Bytes& record) {
  EXPECT_EQ(h.Code(Host::Tagged(0x15, type, record)), 'Q');
}
inline void SetFlashCfi(Host& h, const Bytes& record) {
  EXPECT_EQ(h.Code(Host::Tagged(0x16, kNor, record)), 'Q');
}

// KELDA with an EN29LV040A (8-bit, interleave 1) made ready for a download.
inline void KeldaNorReady(Host& h) {
  Resets(h);
  BoundarySetup(h, Product::kKelda, NorPinMap(Product::kKelda, 8, 0));
  SetFlashInfo(h, kNor, NorInfo{}.Record());
  EXPECT_EQ(h.FlashId(kNor, 1, 8, 1)[1], 0x4F);
  SetFlashCfi(h, CfiRecord(512 * 1024, {{8, 64 * 1024}}));
}

// KELDA with a K9F1G08 NAND made ready for a download.
inline void KeldaNandReady(Host& h) {
  Resets(h);
  BoundarySetup(h, Product::kKelda, NandPinMap(Product::kKelda));
  EXPECT_EQ(h.FlashId(kNand)[1], 0xF1);
  SetFlashInfo(h, kNand, NandRecord(0xEC, 0xF1, 128u << 20, 2048, 128 * 1024, 64));
}

}  // namespace probesim::test
