// SPDX-License-Identifier: MIT
// A reader and evaluator for udev rule files, strict enough to stand in for `udevadm verify`
// where udev lacks it (Debian 12's udev 252 has no verify command).
//
// It reads the rule grammar udev itself reads (rules(7)): one rule per line, lines joined by a
// trailing backslash, comma-separated KEY[{name}] OPERATOR "value" items. It refuses what udev
// would warn about or drop: unknown keys, a key used with an operator it does not take, a missing
// or stray {name}, unquoted or unterminated values, items not separated by commas.
//
// The evaluator applies a rule to a device described by its sysfs attributes, with udev's own
// matching (fnmatch patterns, '|' between alternatives), so a test can ask which devices a rule
// really reaches rather than restating the rule's text.
//
// Everything here is plain functions on values: no I/O besides ReadUdevRuleFile, no threads.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zolt::packaging {

struct UdevItem {
  std::string key;    // "ATTR"
  std::string name;   // "idVendor" (the part in braces), empty when the key takes none
  std::string op;     // "==", "!=", "=", "+=", "-=", ":="
  std::string value;  // unquoted
};

struct UdevRule {
  int line = 0;  // first line of the rule in the file, from 1
  std::vector<UdevItem> items;
};

struct UdevParseResult {
  std::vector<UdevRule> rules;
  std::vector<std::string> errors;  // "line N: what is wrong"; empty when the text is sound
};

UdevParseResult ParseUdevRules(const std::string& text);

// Reads `path` and parses it; an unreadable file gives one error naming it.
UdevParseResult ReadUdevRuleFile(const std::string& path);

// A device as udev sees it when it processes an event.
struct UdevDevice {
  std::string subsystem;
  std::map<std::string, std::string> env;    // uevent properties, e.g. DEVTYPE
  std::map<std::string, std::string> attrs;  // the device's own sysfs attributes
  // sysfs attributes of the parents, nearest first (ATTRS{} and friends look there too).
  std::vector<std::map<std::string, std::string>> parentAttrs;
};

// What the rules assign to a device that they match.
struct UdevOutcome {
  std::set<std::string> tags;
  std::optional<std::string> mode;
  std::optional<std::string> group;
  std::optional<std::string> owner;
};

// Applies every rule in order; returns nothing when no rule matches the device.
std::optional<UdevOutcome> ApplyUdevRules(const std::vector<UdevRule>& rules, const UdevDevice& device);

}  // namespace zolt::packaging
