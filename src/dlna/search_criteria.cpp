#include "dlna/search_criteria.h"

#include <charconv>

#include "dlna/didl.h"
#include "dlna/upnp_error.h"
#include "platform/ascii.h"

namespace tovi::dlna {

namespace {

// Between the criteria's words: the white space a control point's XML may wrap them with.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

enum class Property { Class, Title, Date, Id, ParentId, RefId, Res, ResSize, ResDuration, Unknown };
enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Contains,
                DoesNotContain, DerivedFrom, Exists };

Property PropertyOf(std::string_view name) {
  if (name == "upnp:class") return Property::Class;
  if (name == "dc:title") return Property::Title;
  if (name == "dc:date") return Property::Date;
  if (name == "@id") return Property::Id;
  if (name == "@parentID") return Property::ParentId;
  if (name == "@refID") return Property::RefId;
  if (name == "res") return Property::Res;
  if (name == "res@size") return Property::ResSize;
  if (name == "res@duration") return Property::ResDuration;
  return Property::Unknown;
}

// ASCII and Cyrillic letters (UTF-8) in lower case: most of this program's users name their films
// in Russian, and a player's keyboard types what the user types, seldom the file name's case.
// Each Cyrillic capital (U+0400-U+042F) has its small letter in two bytes as well.
std::string Lower(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto next = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0u;
    if (static_cast<unsigned char>(out[i]) == 0xD0 && next >= 0x80 && next <= 0xAF) {
      if (next < 0x90) {  // Ѐ-Џ: ѐ-џ
        out[i] = '\xD1', out[i + 1] = static_cast<char>(next + 0x10);
      } else if (next < 0xA0) {  // А-П: а-п
        out[i + 1] = static_cast<char>(next + 0x20);
      } else {  // Р-Я: р-я
        out[i] = '\xD1', out[i + 1] = static_cast<char>(next - 0x20);
      }
      ++i;
      continue;
    }
    out[i] = text::LowerAscii(out[i]);
  }
  return out;
}

std::optional<std::uint64_t> NumberOf(std::string_view text) {
  std::uint64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return n;
}

// "H:MM:SS" with an optional fraction of a second, as res@duration carries it, in ms.
std::optional<std::uint64_t> DurationOf(std::string_view text) {
  std::uint64_t ms = 0;
  const std::size_t dot = text.find('.');
  if (dot != std::string_view::npos) {
    std::string_view fraction = text.substr(dot + 1);
    text = text.substr(0, dot);
    std::uint64_t scale = 100;
    for (char c : fraction) {
      if (c < '0' || c > '9') return std::nullopt;
      ms += static_cast<std::uint64_t>(c - '0') * scale;
      scale /= 10;
    }
  }
  std::uint64_t seconds = 0;
  int parts = 0;
  while (!text.empty()) {
    const std::size_t colon = text.find(':');
    const auto part = NumberOf(text.substr(0, colon));
    if (!part || ++parts > 3 || *part > 0xFFFFFFFFu) return std::nullopt;
    seconds = seconds * 60 + *part;
    text = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    if (colon != std::string_view::npos && text.empty()) return std::nullopt;
  }
  if (parts == 0) return std::nullopt;
  return seconds * 1000 + ms;
}

template <class T>
bool Compare(Op op, const T& a, const T& b) {
  switch (op) {
    case Op::Equal: return a == b;
    case Op::NotEqual: return a != b;
    case Op::Less: return a < b;
    case Op::LessEqual: return a <= b;
    case Op::Greater: return a > b;
    case Op::GreaterEqual: return a >= b;
    default: return false;
  }
}

}  // namespace

struct SearchCriteria::Node {
  enum class Kind { And, Or, Test } kind = Kind::Test;
  // And, Or: a run of terms side by side, so that only parentheses make the tree deeper.
  std::vector<std::shared_ptr<const Node>> parts;
  Property property = Property::Unknown;    // Test
  Op op = Op::Equal;
  std::string value;  // in lower case (ids as they are); for exists "true" or "false"
  std::optional<std::uint64_t> number;       // the value as res@size or res@duration reads it

  bool Matches(const SearchFacts& o) const {
    if (kind == Kind::And) {
      for (const auto& part : parts) if (!part->Matches(o)) return false;
      return true;
    }
    if (kind == Kind::Or) {
      for (const auto& part : parts) if (part->Matches(o)) return true;
      return false;
    }
    std::optional<std::string> text;  // the object's value, when it carries the property
    std::optional<std::uint64_t> amount;
    switch (property) {
      case Property::Class: text = o.upnpClass; break;
      case Property::Title: text = o.title; break;
      case Property::Date: if (!o.date.empty()) text = o.date; break;
      case Property::Id: text = o.id; break;
      case Property::ParentId: text = o.parentId; break;
      case Property::Res: if (!o.container) text = ""; break;  // tested for its presence only
      case Property::ResSize:
        if (!o.container && o.size) amount = o.size, text = std::to_string(*o.size);
        break;
      case Property::ResDuration:
        if (!o.container && o.durationMs) amount = o.durationMs, text = DurationText(*o.durationMs);
        break;
      case Property::RefId:
      case Property::Unknown: break;
    }
    if (op == Op::Exists) return text.has_value() == (value == "true");
    if (!text || property == Property::Res) return false;
    if (amount) {
      if (op == Op::Contains || op == Op::DoesNotContain || op == Op::DerivedFrom) {
        const bool found = text->find(value) != std::string::npos;
        return op == Op::DoesNotContain ? !found : op == Op::Contains && found;
      }
      return number && Compare(op, *amount, *number);
    }
    // Ids differ by case; names and classes are matched as people and players write them.
    const bool exact = property == Property::Id || property == Property::ParentId;
    const std::string own = exact ? *text : Lower(*text);
    switch (op) {
      case Op::Contains: return own.find(value) != std::string::npos;
      case Op::DoesNotContain: return own.find(value) == std::string::npos;
      case Op::DerivedFrom:
        return own == value || (own.size() > value.size() && own.starts_with(value) &&
                                own[value.size()] == '.');
      default: return Compare(op, own, value);
    }
  }
};

namespace {

using Node = SearchCriteria::Node;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::shared_ptr<const Node> Whole() {
    auto node = Or(0);
    Skip();
    if (at_ != text_.size()) throw UnsupportedSearchCriteria();
    return node;
  }
  bool needsSize = false, needsDuration = false, needsDate = false;

 private:
  void Skip() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }
  static bool EndsWord(char c) {
    return IsSpace(c) || c == '(' || c == ')' || c == '"' || c == '=' || c == '<' || c == '>' ||
           c == '!';
  }
  // The next run of word characters (a property, an operator's name, and/or, true/false).
  std::string_view Word() {
    Skip();
    const std::size_t start = at_;
    while (at_ < text_.size() && !EndsWord(text_[at_])) ++at_;
    return text_.substr(start, at_ - start);
  }
  bool Take(char c) {
    Skip();
    if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
    return false;
  }
  // Whether the next word is name (any case), taken if so.
  bool TakeWord(std::string_view name) {
    const std::size_t before = at_;
    if (text::SameAsciiText(Word(), name)) return true;
    at_ = before;
    return false;
  }

  using Term = std::shared_ptr<const Node> (Parser::*)(int depth);
  // Terms joined by word into one node of kind; the term alone when no word follows it.
  std::shared_ptr<const Node> Run(int depth, std::string_view word, Node::Kind kind, Term term) {
    auto first = (this->*term)(depth);
    if (!TakeWord(word)) return first;
    auto node = std::make_shared<Node>();
    node->kind = kind;
    node->parts.push_back(std::move(first));
    do node->parts.push_back((this->*term)(depth)); while (TakeWord(word));
    return node;
  }
  std::shared_ptr<const Node> Or(int depth) {
    return Run(depth, "or", Node::Kind::Or, &Parser::And);
  }
  std::shared_ptr<const Node> And(int depth) {
    return Run(depth, "and", Node::Kind::And, &Parser::Primary);
  }
  std::shared_ptr<const Node> Primary(int depth) {
    if (Take('(')) {
      if (depth + 1 > kMaxSearchNesting) throw UnsupportedSearchCriteria();
      auto node = Or(depth + 1);
      if (!Take(')')) throw UnsupportedSearchCriteria();
      return node;
    }
    return Test();
  }
  std::shared_ptr<const Node> Test() {
    if (++terms_ > kMaxSearchTerms) throw UnsupportedSearchCriteria();
    auto node = std::make_shared<Node>();
    const std::string_view name = Word();
    if (name.empty()) throw UnsupportedSearchCriteria();
    node->property = PropertyOf(name);
    needsSize = needsSize || node->property == Property::ResSize;
    needsDuration = needsDuration || node->property == Property::ResDuration;
    needsDate = needsDate || node->property == Property::Date;
    node->op = Operator();
    if (node->op == Op::Exists) {
      const std::string value = Lower(Word());
      if (value != "true" && value != "false") throw UnsupportedSearchCriteria();
      node->value = value;
      return node;
    }
    const std::string value = Quoted();
    const bool exact = node->property == Property::Id || node->property == Property::ParentId;
    node->value = exact ? value : Lower(value);
    if (node->property == Property::ResSize) node->number = NumberOf(value);
    if (node->property == Property::ResDuration) node->number = DurationOf(value);
    return node;
  }
  Op Operator() {
    Skip();
    const std::string_view rest = text_.substr(at_);
    for (const auto& [symbol, op] : {std::pair<std::string_view, Op>{"!=", Op::NotEqual},
                                     {"<=", Op::LessEqual}, {">=", Op::GreaterEqual},
                                     {"=", Op::Equal}, {"<", Op::Less}, {">", Op::Greater}}) {
      if (rest.starts_with(symbol)) {
        at_ += symbol.size();
        return op;
      }
    }
    const std::string_view word = Word();
    if (text::SameAsciiText(word, "contains")) return Op::Contains;
    if (text::SameAsciiText(word, "doesNotContain")) return Op::DoesNotContain;
    if (text::SameAsciiText(word, "derivedfrom")) return Op::DerivedFrom;
    if (text::SameAsciiText(word, "exists")) return Op::Exists;
    throw UnsupportedSearchCriteria();
  }
  std::string Quoted() {
    if (!Take('"')) throw UnsupportedSearchCriteria();
    std::string value;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (text_[at_] == '\\') {
        if (++at_ == text_.size() || (text_[at_] != '"' && text_[at_] != '\\'))
          throw UnsupportedSearchCriteria();
      }
      value += text_[at_++];
    }
    if (at_ == text_.size()) throw UnsupportedSearchCriteria();
    ++at_;
    return value;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  int terms_ = 0;
};

}  // namespace

SearchCriteria SearchCriteria::Parse(std::string_view text) {
  if (text.size() > kMaxSearchCriteriaBytes) throw UnsupportedSearchCriteria();
  SearchCriteria criteria;
  std::string_view trimmed = text;
  while (!trimmed.empty() && IsSpace(trimmed.front())) trimmed.remove_prefix(1);
  while (!trimmed.empty() && IsSpace(trimmed.back())) trimmed.remove_suffix(1);
  // Some control points send nothing for everything.
  if (trimmed == "*" || trimmed.empty()) return criteria;
  Parser parser(text);
  criteria.root_ = parser.Whole();
  criteria.needsSize_ = parser.needsSize;
  criteria.needsDuration_ = parser.needsDuration;
  criteria.needsDate_ = parser.needsDate;
  return criteria;
}

bool SearchCriteria::Matches(const SearchFacts& object) const {
  return !root_ || root_->Matches(object);
}

}  // namespace tovi::dlna
