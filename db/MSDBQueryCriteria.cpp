// Translation of UPnP search criteria into one select of object oids, by an
// operator-precedence parse over an operator stack and an operand stack.
//
// Criteria come from network clients, so the parse is strict about what may
// reach SQL: every operand is escaped and pasted only between quotes, an
// @parentID operand must be an id path, and each stack entry remembers
// whether it is a raw operand or an already built select, so that "and" and
// "or" only ever join selects and comparisons only ever take operands.
// Keywords must end at a word boundary ("orwell" is an operand, not "or").
//
// The parse builds a tree rather than text: chains of one joining operator
// are flattened into one node, and the select is written once at the end,
// its compounds grouped so that the statement's nesting grows with the
// logarithm of the number of terms (SQLite's parser stack is small). The
// memory used is therefore a small multiple of the criteria text, whose
// length is capped (MSDB_MAX_CRITERIA_LENGTH).
#include <apr_strings.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommonNumbers.h"
#include "CommonProp.h"
#include "MSDBIdPath.h"
#include "MSDBQuery.h"
#include "MSDBSchema.h"
#include "log4c.h"

namespace {

constexpr const char *kModule = "MSDBHelper";

enum class Op { kCompare, kContains, kDoesNotContain, kDerivedFrom, kExists, kAnd, kOr, kOpen };

struct Operator {
  std::string_view word;
  Op op;
  int precedence;
  const char *sql;  // the comparison operator for kCompare
};

// Longer symbols first, so that ">=" is not read as ">".
constexpr Operator kOperators[] = {
    {"!=", Op::kCompare, 3, "!="},
    {">=", Op::kCompare, 3, ">="},
    {"<=", Op::kCompare, 3, "<="},
    {"=", Op::kCompare, 3, "="},
    {">", Op::kCompare, 3, ">"},
    {"<", Op::kCompare, 3, "<"},
    {"contains", Op::kContains, 3, nullptr},
    {"doesNotContain", Op::kDoesNotContain, 3, nullptr},
    {"derivedfrom", Op::kDerivedFrom, 3, nullptr},
    {"exists", Op::kExists, 3, nullptr},
    {"and", Op::kAnd, 2, nullptr},
    {"or", Op::kOr, 1, nullptr},
};
constexpr Operator kOpenParenthesis = {"(", Op::kOpen, 0, nullptr};

constexpr const char *kPropSelect =
    "select objectoid as searchObjectOid from prop where nameOid=(select oid from propName where name='%s')";

// Properties whose values are numbers: an ordering against a numeric operand
// compares numbers, not texts ("9" < "10", "0000000005" = 5).
constexpr std::string_view kNumericProperties[] = {
    "@childCount",    "upnp:originalTrackNumber", "upnp:storageUsed",    "res@bitrate",
    "res@size",       "res@sampleFrequency",      "res@bitsPerSample",   "res@nrAudioChannels",
    "res@audioBitrate", "res@videoBitrate",       "res@videoFPS",
};

// Joins of one operator in a row become one compound of at most this many
// selects; longer chains are compounds of compounds.
constexpr size_t kCompoundTerms = 64;
// The deepest nesting of compounds a statement may have: SQLite's parser
// stack takes about ten, and the search wraps the select in its own.
constexpr int kMaxCompoundDepth = 6;

enum class Token { kOperand, kOperator, kOpen, kClose, kEnd, kBad };
enum class Last { kNothing, kOperand, kOperator, kOpen, kClose };

// A translated select: a comparison's text, or a join of several selects.
struct Node {
  const char *sql;  // null for a join
  Op op;            // kAnd or kOr for a join
  std::vector<int> children;
};

// An operand stack entry: a raw operand's text, or a select node.
struct Entry {
  const char *text;
  int node;  // -1 for a raw operand
};

struct Parser {
  apr_pool_t *pool;
  const char *criteria;
  DbEscapeFn escape;
  bool substring_index;
  std::string_view rest;
  std::vector<Entry> operands;
  std::vector<const Operator *> operators;
  std::vector<Node> nodes;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool ends_word(std::string_view text, size_t length) {
  if (length >= text.size()) return true;
  char next = text[length];
  return is_blank(next) || next == '(' || next == ')' || next == '"';
}

const Operator *match_operator(std::string_view text) {
  for (const Operator &candidate : kOperators) {
    const bool keyword = std::isalpha(static_cast<unsigned char>(candidate.word[0]));
    if (text.size() < candidate.word.size()) continue;
    if (strncasecmp(text.data(), candidate.word.data(), candidate.word.size()) != 0) continue;
    if (!keyword || ends_word(text, candidate.word.size())) return &candidate;
  }
  return nullptr;
}

// A double-quoted string (backslash escapes the next character) or a bare
// word; none for an unterminated string or a lone "!".
std::optional<std::string> read_operand(std::string_view &rest) {
  std::string text;
  if (rest.front() == '"') {
    size_t i = 1;
    for (; i < rest.size() && rest[i] != '"'; i++) {
      if (rest[i] == '\\' && i + 1 < rest.size()) i++;
      text += rest[i];
    }
    if (i >= rest.size()) return std::nullopt;
    rest.remove_prefix(i + 1);
    return text;
  }
  size_t i = 0;
  while (i < rest.size() && !is_blank(rest[i]) && std::strchr("=<>!()", rest[i]) == nullptr) i++;
  if (i == 0) return std::nullopt;  // a lone "!"
  text.assign(rest.substr(0, i));
  rest.remove_prefix(i);
  return text;
}

Token next_token(Parser &p, const Operator **op, const char **operand) {
  while (!p.rest.empty() && is_blank(p.rest.front())) p.rest.remove_prefix(1);
  if (p.rest.empty()) return Token::kEnd;
  if (p.rest.front() == '(' || p.rest.front() == ')') {
    Token token = p.rest.front() == '(' ? Token::kOpen : Token::kClose;
    p.rest.remove_prefix(1);
    return token;
  }
  if ((*op = match_operator(p.rest)) != nullptr) {
    p.rest.remove_prefix((*op)->word.size());
    return Token::kOperator;
  }
  std::optional<std::string> text = read_operand(p.rest);
  if (!text) return Token::kBad;
  *operand = p.escape(p.pool, text->c_str());
  return Token::kOperand;
}

bool fail_at(const Parser &p, std::string_view at) {
  LOG4C(kModule, LOG4C_ERROR,
        log4c_sprintf("Invalid search criteria %s at %.*s", p.criteria, static_cast<int>(at.size()), at.data()));
  return false;
}

bool fail_whole(const Parser &p) {
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Invalid search criteria %s", p.criteria));
  return false;
}

// The vocabulary name of name, or null after a logged error: a property the
// library never stores would only ever match nothing.
const char *property_name(const char *name) {
  int slot = prop_index_of(name, 0);
  if (slot > 0) return prop_name(slot);
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Invalid property %s in search criteria", name));
  return nullptr;
}

const char *value_select(apr_pool_t *pool, const char *name, const char *condition) {
  return apr_pstrcat(pool, apr_psprintf(pool, kPropSelect, name),
                     " and valueOid in (select oid from propValue where value ", condition, ")", nullptr);
}

// text with the LIKE wildcards "%" and "_" (and the escape character itself)
// escaped by a backslash, for a pattern that ends with ESCAPE '\'.
const char *like_literal(apr_pool_t *pool, const char *text) {
  std::string out;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == '%' || *c == '_' || *c == '\\') out += '\\';
    out += *c;
  }
  return apr_pstrmemdup(pool, out.data(), out.size());
}

const char *like_condition(apr_pool_t *pool, const char *negation, const char *prefix, const char *value) {
  return apr_psprintf(pool, "%slike '%s%s%%' ESCAPE '\\'", negation, prefix, like_literal(pool, value));
}

const char *like_select(apr_pool_t *pool, const char *name, const char *negation, const char *prefix,
                        const char *value) {
  return value_select(pool, name, like_condition(pool, negation, prefix, value));
}

// The bytes of the character text starts with, as a statement spells it
// (a quote doubled), 0 when it is not UTF-8.
size_t character_length(const unsigned char *text) {
  if (text[0] == '\'') return text[1] == '\'' ? 2 : 0;
  const size_t length = text[0] < 0x80 ? 1 : text[0] < 0xC2 ? 0 : text[0] < 0xE0 ? 2 : text[0] < 0xF0 ? 3
                        : text[0] < 0xF5                     ? 4
                                                             : 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
  }
  return length;
}

// The substring index's query, quoted for a statement, for the values that
// hold every trigram of value (quoted for a statement too); null when value
// is not UTF-8 or has fewer than three characters. Each trigram is a phrase
// of its own: the index keeps no positions.
const char *trigram_query(apr_pool_t *pool, const char *value) {
  std::vector<std::string_view> characters;
  for (const char *c = value; *c != '\0';) {
    const size_t length = character_length(reinterpret_cast<const unsigned char *>(c));
    if (length == 0) return nullptr;
    characters.emplace_back(c, length);
    c += length;
  }
  std::string query;
  for (size_t i = 0; i + 3 <= characters.size(); ++i) {
    query += query.empty() ? "\"" : " \"";
    for (size_t k = i; k < i + 3; ++k) query += characters[k] == "\"" ? "\"\"" : characters[k];
    query += '"';
  }
  return query.empty() ? nullptr : apr_pstrmemdup(pool, query.data(), query.size());
}

constexpr const char *kIndexedLike =
    "%s and oid in (select rowid from " MSDB_SUBSTRING_INDEX " where " MSDB_SUBSTRING_INDEX " match '%s' "
    "union all select oid from " MSDB_UNINDEXED ")";

// The values holding value somewhere. With the substring index, LIKE tests
// only the values that hold each of its trigrams, and those written since
// the last commit, which the index does not hold yet: the index folds the
// case of every letter and LIKE of ASCII letters alone, and both read a
// text's characters alike, so a value LIKE takes holds those trigrams.
const char *contains_select(const Parser &p, const char *name, const char *value) {
  const char *like = like_condition(p.pool, "", "%", value);
  const char *trigrams = p.substring_index ? trigram_query(p.pool, value) : nullptr;
  if (trigrams == nullptr) return value_select(p.pool, name, like);
  return value_select(p.pool, name, apr_psprintf(p.pool, kIndexedLike, like, trigrams));
}

bool is_numeric_property(const char *name) {
  for (std::string_view numeric : kNumericProperties) {
    if (numeric == name) return true;
  }
  return false;
}

// The numeric comparison of name's values with value, or null when either is
// not a number. The operand is written back from the parsed number, never
// pasted.
const char *numeric_comparison(apr_pool_t *pool, const char *name, const char *sql_operator, const char *value) {
  double number = 0;
  if (!is_numeric_property(name) || !parse_double(value, &number) || !std::isfinite(number)) return nullptr;
  return value_select(pool, name,
                      apr_psprintf(pool, "glob '*[0-9]*' and cast(value as real) %s %.17g", sql_operator, number));
}

const char *exists_select(apr_pool_t *pool, const char *name, const char *value) {
  const char *exists = apr_psprintf(pool, kPropSelect, name);
  if (strcasecmp(value, "true") == 0) return exists;
  if (strcasecmp(value, "false") == 0) {
    return apr_psprintf(pool, "select objectoid as searchObjectOid from prop where searchObjectOid not in (%s)", exists);
  }
  LOG4C(kModule, LOG4C_ERROR,
        log4c_sprintf("Invalid search criteria exists operator has %s instead of true / false", value));
  return nullptr;
}

// The select for name <operator> value; null after a logged error.
const char *comparison(Parser &p, const Operator &op, const char *name, const char *value) {
  apr_pool_t *pool = p.pool;
  switch (op.op) {
    case Op::kCompare: {
      if (std::strcmp(name, "@parentID") == 0 && std::strcmp(op.sql, "=") == 0) {
        if (!msdb_id_path_valid(value)) return nullptr;
        const char *oid = nullptr;
        msdb_id_split(pool, value, nullptr, &oid);
        return apr_psprintf(pool, "select objectoid as searchObjectOid from edge where parentObjectOid=%s", oid);
      }
      const char *numeric = numeric_comparison(pool, name, op.sql, value);
      if (numeric != nullptr) return numeric;
      return value_select(pool, name, apr_psprintf(pool, "%s '%s' COLLATE NOCASE", op.sql, value));
    }
    case Op::kContains:
      if (value[0] == '^') return like_select(pool, name, "", "", value + 1);
      return contains_select(p, name, value);
    case Op::kDoesNotContain:
      return like_select(pool, name, "not ", "%", value);
    case Op::kDerivedFrom:
      return like_select(pool, name, "", "", value);
    default:
      return exists_select(pool, name, value);
  }
}

int add_node(Parser &p, Node node) {
  p.nodes.push_back(std::move(node));
  return static_cast<int>(p.nodes.size()) - 1;
}

// Adds the selects of entry to a join of op: a join of the same operator
// gives its own selects (the operators are associative).
void take_children(Parser &p, Op op, int entry, std::vector<int> &children) {
  Node &node = p.nodes[entry];
  if (node.sql != nullptr || node.op != op) {
    children.push_back(entry);
    return;
  }
  if (children.empty()) {
    children = std::move(node.children);
  } else {
    children.insert(children.end(), node.children.begin(), node.children.end());
  }
  node.children.clear();
}

bool reduce(Parser &p) {
  const Operator &op = *p.operators.back();
  p.operators.pop_back();
  if (p.operands.size() < 2) {
    LOG4C(kModule, LOG4C_ERROR, "Invalid search criteria");
    return false;
  }
  Entry right = p.operands.back();
  p.operands.pop_back();
  Entry left = p.operands.back();
  p.operands.pop_back();
  const bool joins = op.op == Op::kAnd || op.op == Op::kOr;
  if ((left.node >= 0) != joins || (right.node >= 0) != joins) return fail_whole(p);
  if (joins) {
    Node join{nullptr, op.op, {}};
    take_children(p, op.op, left.node, join.children);
    take_children(p, op.op, right.node, join.children);
    p.operands.push_back({nullptr, add_node(p, std::move(join))});
    return true;
  }
  const char *name = property_name(left.text);
  const char *sql = name == nullptr ? nullptr : comparison(p, op, name, right.text);
  if (sql == nullptr) return false;
  p.operands.push_back({nullptr, add_node(p, Node{sql, op.op, {}})});
  return true;
}

bool reduce_while(Parser &p, int precedence) {
  while (!p.operators.empty() && p.operators.back()->op != Op::kOpen &&
         p.operators.back()->precedence >= precedence) {
    if (!reduce(p)) return false;
  }
  return true;
}

// Applies one token; false after a logged error.
bool apply(Parser &p, Token token, const Operator *op, const char *operand, Last &last,
           std::string_view at) {
  const bool after_value = last == Last::kOperand || last == Last::kClose;
  switch (token) {
    case Token::kOperand:
      if (after_value) return fail_at(p, at);
      p.operands.push_back({operand, -1});
      last = Last::kOperand;
      return true;
    case Token::kOpen:
      if (after_value) return fail_at(p, at);
      p.operators.push_back(&kOpenParenthesis);
      last = Last::kOpen;
      return true;
    case Token::kClose:
      if (last == Last::kOperator) return fail_at(p, at);
      if (!reduce_while(p, 0)) return false;
      if (p.operators.empty()) return fail_at(p, at);
      p.operators.pop_back();
      last = Last::kClose;
      return true;
    case Token::kOperator:
      if (last == Last::kOperator) return fail_at(p, at);
      if (!reduce_while(p, op->precedence)) return false;
      p.operators.push_back(op);
      last = Last::kOperator;
      return true;
    default:
      return fail_at(p, at);
  }
}

// Compound levels needed to join count selects kCompoundTerms at a time.
int compound_levels(size_t count) {
  int levels = 1;
  for (; count > kCompoundTerms; count = (count + kCompoundTerms - 1) / kCompoundTerms) levels++;
  return levels;
}

// The nesting of compounds the select of node needs; stops counting once
// past the limit, so that the recursion stays as shallow as the limit.
int compound_depth(const Parser &p, int node, int above) {
  const Node &n = p.nodes[node];
  if (n.sql != nullptr) return 0;
  const int levels = compound_levels(n.children.size());
  if (above + levels > kMaxCompoundDepth) return above + levels;
  int deepest = 0;
  for (int child : n.children) {
    const int depth = compound_depth(p, child, above + levels);
    if (depth > deepest) deepest = depth;
    if (above + levels + deepest > kMaxCompoundDepth) break;
  }
  return levels + deepest;
}

void write_node(const Parser &p, int node, std::string &out);

void write_join(const Parser &p, const Node &join, size_t first, size_t count, std::string &out) {
  if (count == 1) {
    write_node(p, join.children[first], out);
    return;
  }
  size_t group = 1;
  while (count > group * kCompoundTerms) group *= kCompoundTerms;
  out += "select * from (";
  for (size_t at = first; at < first + count; at += group) {
    if (at > first) out += join.op == Op::kAnd ? " INTERSECT " : " UNION ";
    write_join(p, join, at, std::min(group, first + count - at), out);
  }
  out += ")";
}

void write_node(const Parser &p, int node, std::string &out) {
  const Node &n = p.nodes[node];
  if (n.sql != nullptr) {
    out += n.sql;
  } else {
    write_join(p, n, 0, n.children.size(), out);
  }
}

}  // namespace

const char *msdb_search_criteria_to_sql(apr_pool_t *pool, const char *criteria, DbEscapeFn escape,
                                        bool substring_index) {
  if (criteria == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, "Invalid search criteria");
    return nullptr;
  }
  const size_t length = std::strlen(criteria);
  if (length > MSDB_MAX_CRITERIA_LENGTH) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Search criteria of %zu characters refused: the limit is %d", length, MSDB_MAX_CRITERIA_LENGTH));
    return nullptr;
  }
  Parser p{pool, criteria, escape, substring_index, criteria, {}, {}, {}};
  Last last = Last::kNothing;
  for (;;) {
    std::string_view at = p.rest;
    while (!at.empty() && is_blank(at.front())) at.remove_prefix(1);
    const Operator *op = nullptr;
    const char *operand = nullptr;
    Token token = next_token(p, &op, &operand);
    if (token == Token::kEnd) break;
    if (!apply(p, token, op, operand, last, at)) return nullptr;
  }
  if (!reduce_while(p, 0)) return nullptr;
  if (!p.operators.empty() || p.operands.size() != 1 || p.operands.back().node < 0) {
    fail_whole(p);
    return nullptr;
  }
  const int root = p.operands.back().node;
  if (compound_depth(p, root, 0) > kMaxCompoundDepth) {
    LOG4C(kModule, LOG4C_ERROR,
          log4c_sprintf("Search criteria nest \"and\" and \"or\" too deeply: at most %d levels", kMaxCompoundDepth));
    return nullptr;
  }
  std::string sql;
  write_node(p, root, sql);
  return apr_pstrmemdup(pool, sql.data(), sql.size());
}
