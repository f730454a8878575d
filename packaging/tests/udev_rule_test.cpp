// SPDX-License-Identifier: MIT
// The installed udev rule must give the logged-in user (uaccess) access to every probe product
// ID of the link library, and to nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "probe/probe_link.h"
#include "udev_rules.h"
#ifdef ZOLT_HAVE_VORLINK_TABLE
#include "guid.h"
#endif

namespace zolt::packaging {
namespace {

const std::string kRuleFile = ZOLT_UDEV_RULE_FILE;

std::string Hex4(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

UdevDevice UsbDevice(int vendor, int product) {
  UdevDevice device;
  device.subsystem = "usb";
  device.env["DEVTYPE"] = "usb_device";
  device.attrs = {{"idVendor", Hex4(vendor)}, {"idProduct", Hex4(product)}};
  return device;
}

std::vector<UdevRule> LoadRules() {
  UdevParseResult parsed = ReadUdevRuleFile(kRuleFile);
  EXPECT_TRUE(parsed.errors.empty()) << parsed.errors.front();
  EXPECT_FALSE(parsed.rules.empty());
  return parsed.rules;
}

TEST(UdevRule, ParsesCleanlyAndRunsBeforeTheSeatRules) {
  LoadRules();
  // systemd-logind turns the uaccess tag into an ACL only for rules read before 73-seat-late.
  std::string name = std::filesystem::path(kRuleFile).filename();
  ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(name[0])) &&
              std::isdigit(static_cast<unsigned char>(name[1])))
      << name;
  EXPECT_LT(std::stoi(name.substr(0, 2)), 73) << name;
  EXPECT_EQ(std::filesystem::path(name).extension(), ".rules");
}

// The product IDs of the link library's product table (0x11 to 0x17).
std::set<int> ProbeProductIds() {
  std::set<int> ids;
#ifdef ZOLT_HAVE_VORLINK_TABLE
  for (const vorlink::ProductGuidRow& row : vorlink::ProductGuidTable()) {
    if (row.productId != 0) ids.insert(row.productId);
  }
#else
  for (int id = 0x11; id <= 0x17; ++id) ids.insert(id);
#endif
  return ids;
}

TEST(UdevRule, TagsExactlyTheProbeProductIds) {
  std::vector<UdevRule> rules = LoadRules();
  const std::set<int> probeIds = ProbeProductIds();
  ASSERT_EQ(probeIds.size(), 7u);
  for (int product = 0; product <= 0xFFFF; ++product) {
    std::optional<UdevOutcome> outcome = ApplyUdevRules(rules, UsbDevice(0x1F3A, product));
    bool isProbe = probeIds.count(product) == 1;
    ASSERT_EQ(outcome.has_value(), isProbe) << "product 0x" << Hex4(product);
    if (!isProbe) continue;
    EXPECT_EQ(outcome->tags.count("uaccess"), 1u) << Hex4(product);
    ASSERT_TRUE(outcome->mode.has_value());
    // Never world-accessible: the seat ACL and the group are the only ways in.
    EXPECT_EQ(outcome->mode->back(), '0') << *outcome->mode;
  }
  EXPECT_TRUE(ApplyUdevRules(rules, UsbDevice(0x1F3A, kProbeProductId)).has_value());
}

TEST(UdevRule, LeavesOtherDevicesAlone) {
  std::vector<UdevRule> rules = LoadRules();
  UdevDevice otherVendor = UsbDevice(0x1D6B, kProbeProductId);
  UdevDevice sameVendorOtherProduct = UsbDevice(0x1F3A, 0xEFE8);
  // The probe's interface child: its parent has the IDs, but the device node is the parent's.
  UdevDevice interface;
  interface.subsystem = "usb";
  interface.env["DEVTYPE"] = "usb_interface";
  interface.parentAttrs.push_back(UsbDevice(0x1F3A, kProbeProductId).attrs);
  UdevDevice hidraw = UsbDevice(0x1F3A, kProbeProductId);
  hidraw.subsystem = "hidraw";
  for (const UdevDevice& device : {otherVendor, sameVendorOtherProduct, interface, hidraw}) {
    EXPECT_FALSE(ApplyUdevRules(rules, device).has_value()) << device.subsystem;
  }
}

// The reader is what stands between a broken rule and a probe nobody can open, so it must
// refuse the mistakes udev would silently skip.
TEST(UdevRuleReader, RefusesMalformedRules) {
  struct Case {
    const char* text;
    const char* why;
  };
  const Case cases[] = {
      {R"(SUBSYSTEM=="usb" ATTR{idVendor}=="1f3a")", "expected ','"},
      {R"(SUBSYSTEM=="usb", ATTR{idVendor}==1f3a)", "double quotes"},
      {R"(SUBSYSTEM=="usb", VENDOR=="1f3a")", "unknown key VENDOR"},
      {R"(SUBSYSTEM=="usb", ATTR=="1f3a")", "needs a {name}"},
      {R"(SUBSYSTEM{x}=="usb")", "takes no {name}"},
      {R"(SUBSYSTEM=="usb", MODE=="0660")", "MODE does not take =="},
      {R"(SUBSYSTEM=="usb", GROUP+="plugdev")", "GROUP does not take +="},
      {R"(SUBSYSTEM=="usb", ATTRS{idVendor}="1f3a")", "ATTRS does not take ="},
      {R"(SUBSYSTEM=="usb", TAG+="uaccess)", "unterminated"},
      {R"(SUBSYSTEM=="usb", ATTR{idVendor}=>"1f3a")", "double quotes"},
      {R"(SUBSYSTEM=="usb",)", "ends the rule"},
  };
  for (const Case& c : cases) {
    UdevParseResult parsed = ParseUdevRules(c.text);
    ASSERT_EQ(parsed.errors.size(), 1u) << c.text;
    EXPECT_NE(parsed.errors[0].find(c.why), std::string::npos) << c.text << " -> " << parsed.errors[0];
    EXPECT_TRUE(parsed.rules.empty()) << c.text;
  }
}

TEST(UdevRuleReader, JoinsContinuedLinesAndSkipsComments) {
  UdevParseResult parsed = ParseUdevRules(
      "# comment\n"
      "\n"
      "SUBSYSTEM==\"usb\", \\\n"
      "  ATTR{idVendor}==\"1f3a|1d6b\", TAG+=\"uaccess\"\n"
      "SUBSYSTEM==\"usb\", TAG-=\"uaccess\", ATTR{idVendor}==\"1d6b\"\n");
  ASSERT_TRUE(parsed.errors.empty()) << parsed.errors.front();
  ASSERT_EQ(parsed.rules.size(), 2u);
  EXPECT_EQ(parsed.rules[0].line, 3);
  EXPECT_EQ(parsed.rules[1].line, 5);
  UdevDevice probe = UsbDevice(0x1F3A, 0x16);
  UdevDevice hub = UsbDevice(0x1D6B, 0x16);
  EXPECT_EQ(ApplyUdevRules(parsed.rules, probe)->tags.count("uaccess"), 1u);
  EXPECT_EQ(ApplyUdevRules(parsed.rules, hub)->tags.count("uaccess"), 0u);
}

}  // namespace
}  // namespace zolt::packaging
