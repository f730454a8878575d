// SPDX-License-Identifier: MIT
#include "udev_rules.h"

#include <fnmatch.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zolt::packaging {
namespace {

enum class NamePart { kNone, kRequired, kOptional };

struct KeySpec {
  const char* key;
  bool matches;  // takes == and !=
  bool assigns;  // takes =, +=, -=, := (further limited below)
  NamePart name;
};

// The keys of rules(7) for the udev of Debian 12 (systemd 252).
constexpr KeySpec kKeys[] = {
    {"ACTION", true, false, NamePart::kNone},       {"DEVPATH", true, false, NamePart::kNone},
    {"KERNEL", true, false, NamePart::kNone},       {"KERNELS", true, false, NamePart::kNone},
    {"NAME", true, true, NamePart::kNone},          {"SYMLINK", true, true, NamePart::kNone},
    {"SUBSYSTEM", true, false, NamePart::kNone},    {"SUBSYSTEMS", true, false, NamePart::kNone},
    {"DRIVER", true, false, NamePart::kNone},       {"DRIVERS", true, false, NamePart::kNone},
    {"ATTR", true, true, NamePart::kRequired},      {"ATTRS", true, false, NamePart::kRequired},
    {"SYSCTL", true, true, NamePart::kRequired},    {"ENV", true, true, NamePart::kRequired},
    {"CONST", true, false, NamePart::kRequired},    {"TAG", true, true, NamePart::kNone},
    {"TAGS", true, false, NamePart::kNone},         {"TEST", true, false, NamePart::kOptional},
    {"PROGRAM", true, false, NamePart::kNone},      {"RESULT", true, false, NamePart::kNone},
    {"OWNER", false, true, NamePart::kNone},        {"GROUP", false, true, NamePart::kNone},
    {"MODE", false, true, NamePart::kNone},         {"RUN", false, true, NamePart::kOptional},
    {"LABEL", false, true, NamePart::kNone},        {"GOTO", false, true, NamePart::kNone},
    {"IMPORT", false, true, NamePart::kRequired},   {"OPTIONS", false, true, NamePart::kNone},
    {"SECLABEL", false, true, NamePart::kRequired},
};

const KeySpec* FindKey(const std::string& key) {
  for (const KeySpec& spec : kKeys) {
    if (key == spec.key) return &spec;
  }
  return nullptr;
}

bool IsMatchOp(const std::string& op) {
  return op == "==" || op == "!=";
}

// Which assignment operators a key accepts: udev ignores "+=" on single-valued keys and only
// takes "=" for LABEL and GOTO, so a rule written otherwise does not do what it says.
bool AssignOpAllowed(const std::string& key, const std::string& op) {
  if (key == "LABEL" || key == "GOTO") return op == "=";
  if (key == "OWNER" || key == "GROUP" || key == "MODE" || key == "NAME" || key == "ATTR" ||
      key == "SYSCTL" || key == "SECLABEL" || key == "IMPORT") {
    return op == "=" || op == ":=" || (key == "SECLABEL" && op == "+=");
  }
  return op == "=" || op == "+=" || op == "-=" || op == ":=";
}

class LineReader {
 public:
  LineReader(const std::string& line, int number, std::vector<std::string>& errors)
      : text_(line), number_(number), errors_(errors) {}

  std::optional<UdevRule> Read() {
    UdevRule rule;
    rule.line = number_;
    for (;;) {
      SkipSpace();
      if (AtEnd()) {
        if (!rule.items.empty()) return Fail("a ',' ends the rule without a further item");
        return Fail("empty rule");
      }
      std::optional<UdevItem> item = ReadItem();
      if (!item) return std::nullopt;
      rule.items.push_back(std::move(*item));
      SkipSpace();
      if (AtEnd()) return rule;
      if (text_[pos_] != ',') return Fail("expected ',' after " + rule.items.back().key);
      ++pos_;
    }
  }

 private:
  std::optional<UdevItem> ReadItem() {
    UdevItem item;
    while (!AtEnd() && (std::isupper(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_')) {
      item.key += text_[pos_++];
    }
    if (item.key.empty()) return FailItem("expected a key at column " + std::to_string(pos_ + 1));
    const KeySpec* spec = FindKey(item.key);
    if (spec == nullptr) return FailItem("unknown key " + item.key);
    bool hasName = false;
    if (!AtEnd() && text_[pos_] == '{') {
      size_t close = text_.find('}', pos_);
      if (close == std::string::npos) return FailItem(item.key + ": '{' without '}'");
      item.name = text_.substr(pos_ + 1, close - pos_ - 1);
      pos_ = close + 1;
      hasName = true;
      if (item.name.empty()) return FailItem(item.key + ": empty {}");
    }
    if (spec->name == NamePart::kRequired && !hasName) return FailItem(item.key + " needs a {name}");
    if (spec->name == NamePart::kNone && hasName) return FailItem(item.key + " takes no {name}");
    SkipSpace();
    for (const char* op : {"==", "!=", "+=", "-=", ":=", "="}) {
      if (text_.compare(pos_, std::char_traits<char>::length(op), op) == 0) {
        item.op = op;
        pos_ += item.op.size();
        break;
      }
    }
    if (item.op.empty()) return FailItem(item.key + ": expected an operator");
    if (IsMatchOp(item.op) ? !spec->matches : !(spec->assigns && AssignOpAllowed(item.key, item.op))) {
      return FailItem(item.key + " does not take " + item.op);
    }
    SkipSpace();
    if (AtEnd() || text_[pos_] != '"') return FailItem(item.key + ": the value must be in double quotes");
    ++pos_;
    for (;;) {
      if (AtEnd()) return FailItem(item.key + ": unterminated value");
      char c = text_[pos_++];
      if (c == '"') break;
      if (c == '\\' && !AtEnd() && text_[pos_] == '"') c = text_[pos_++];
      item.value += c;
    }
    return item;
  }

  void SkipSpace() {
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  std::nullopt_t Fail(const std::string& what) {
    errors_.push_back("line " + std::to_string(number_) + ": " + what);
    return std::nullopt;
  }
  std::optional<UdevItem> FailItem(const std::string& what) { return Fail(what); }

  const std::string& text_;
  int number_;
  std::vector<std::string>& errors_;
  size_t pos_ = 0;
};

// udev's pattern match: fnmatch per alternative, alternatives separated by '|'.
bool PatternMatches(const std::string& pattern, const std::string& value) {
  size_t start = 0;
  for (;;) {
    size_t bar = pattern.find('|', start);
    std::string alternative =
        pattern.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (fnmatch(alternative.c_str(), value.c_str(), 0) == 0) return true;
    if (bar == std::string::npos) return false;
    start = bar + 1;
  }
}

bool Compare(const UdevItem& item, const std::optional<std::string>& value) {
  if (!value) return false;  // udev fails a match on an attribute it cannot read, whatever the operator
  bool matched = PatternMatches(item.value, *value);
  return item.op == "==" ? matched : !matched;
}

std::optional<std::string> Lookup(const std::map<std::string, std::string>& map, const std::string& key) {
  auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

bool RuleMatches(const UdevRule& rule, const UdevDevice& device) {
  std::vector<const UdevItem*> parentItems;
  for (const UdevItem& item : rule.items) {
    if (!IsMatchOp(item.op)) continue;
    if (item.key == "SUBSYSTEM") {
      if (!Compare(item, device.subsystem)) return false;
    } else if (item.key == "ENV") {
      // A property that is not set compares as empty text.
      if (!Compare(item, Lookup(device.env, item.name).value_or(""))) return false;
    } else if (item.key == "ATTR") {
      if (!Compare(item, Lookup(device.attrs, item.name))) return false;
    } else if (item.key == "ATTRS") {
      parentItems.push_back(&item);
    } else {
      throw std::invalid_argument("the evaluator does not model match key " + item.key);
    }
  }
  if (parentItems.empty()) return true;
  // All the parent keys of one rule must match on one device of the chain: itself or a parent.
  std::vector<const std::map<std::string, std::string>*> chain{&device.attrs};
  for (const auto& attrs : device.parentAttrs) chain.push_back(&attrs);
  for (const auto* attrs : chain) {
    bool all = true;
    for (const UdevItem* item : parentItems) all = all && Compare(*item, Lookup(*attrs, item->name));
    if (all) return true;
  }
  return false;
}

}  // namespace

UdevParseResult ParseUdevRules(const std::string& text) {
  UdevParseResult result;
  std::istringstream in(text);
  std::string physical;
  std::string logical;
  int number = 0;
  int firstLine = 0;
  while (std::getline(in, physical)) {
    ++number;
    if (logical.empty()) firstLine = number;
    if (!physical.empty() && physical.back() == '\\') {
      logical += physical.substr(0, physical.size() - 1);
      continue;
    }
    logical += physical;
    size_t first = logical.find_first_not_of(" \t\r");
    if (first != std::string::npos && logical[first] != '#') {
      LineReader reader(logical, firstLine, result.errors);
      if (std::optional<UdevRule> rule = reader.Read()) result.rules.push_back(std::move(*rule));
    }
    logical.clear();
  }
  if (!logical.empty())
    result.errors.push_back("line " + std::to_string(firstLine) + ": '\\' on the last line");
  return result;
}

UdevParseResult ReadUdevRuleFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    UdevParseResult result;
    result.errors.push_back("cannot read " + path);
    return result;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseUdevRules(text.str());
}

std::optional<UdevOutcome> ApplyUdevRules(const std::vector<UdevRule>& rules, const UdevDevice& device) {
  std::optional<UdevOutcome> outcome;
  for (const UdevRule& rule : rules) {
    if (!RuleMatches(rule, device)) continue;
    if (!outcome) outcome.emplace();
    for (const UdevItem& item : rule.items) {
      if (IsMatchOp(item.op)) continue;
      if (item.key == "TAG") {
        if (item.op == "=") outcome->tags.clear();
        if (item.op == "-=") {
          outcome->tags.erase(item.value);
        } else {
          outcome->tags.insert(item.value);
        }
      } else if (item.key == "MODE") {
        outcome->mode = item.value;
      } else if (item.key == "GROUP") {
        outcome->group = item.value;
      } else if (item.key == "OWNER") {
        outcome->owner = item.value;
      } else {
        throw std::invalid_argument("the evaluator does not model assignment key " + item.key);
      }
    }
  }
  return outcome;
}

}  // namespace zolt::packaging
