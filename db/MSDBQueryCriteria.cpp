// Translation of UPnP search criteria into one select of object oids, by an
// operator-precedence parse over an operator stack and an operand stack.
//
// Criteria come from network clients, so the parse is strict about what may
// reach SQL: every operand is escaped and pasted only between quotes, an
// @parentID operand must be an id path, and each stack entry remembers
// whether it is a raw operand or an already built select, so that "and" and
// "or" only ever join selects and comparisons only ever take operands.
// Keywords must end at a word boundary ("orwell" is an operand, not "or").
#include <apr_strings.h>

#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommonProp.h"
#include "MSDBIdPath.h"
#include "MSDBQuery.h"
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

enum class Token { kOperand, kOperator, kOpen, kClose, kEnd, kBad };
enum class Last { kNothing, kOperand, kOperator, kOpen, kClose };

struct Entry {
  const char *text;
  bool is_select;
};

struct Parser {
  apr_pool_t *pool;
  const char *criteria;
  DbEscapeFn escape;
  std::string_view rest;
  std::vector<Entry> operands;
  std::vector<const Operator *> operators;
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

const char *property_name(const char *name) {
  int slot = prop_index_of(name, 0);
  if (slot > 0) return prop_name(slot);
  LOG4C(kModule, LOG4C_ERROR, log4c_sprintf("Invalid property %s in search criteria", name));
  return name;
}

const char *value_select(apr_pool_t *pool, const char *name, const char *condition) {
  return apr_pstrcat(pool, apr_psprintf(pool, kPropSelect, name),
                     " and valueOid in (select oid from propValue where value ", condition, ")", nullptr);
}

// The select for name <operator> value; null after a logged error.
const char *comparison(Parser &p, const Operator &op, const char *name, const char *value) {
  apr_pool_t *pool = p.pool;
  switch (op.op) {
    case Op::kCompare:
      if (std::strcmp(name, "@parentID") == 0 && std::strcmp(op.sql, "=") == 0) {
        if (!msdb_id_path_valid(value)) return nullptr;
        const char *oid = nullptr;
        msdb_id_split(pool, value, nullptr, &oid);
        return apr_psprintf(pool, "select objectoid as searchObjectOid from edge where parentObjectOid=%s", oid);
      }
      return value_select(pool, name, apr_psprintf(pool, "%s '%s' COLLATE NOCASE", op.sql, value));
    case Op::kContains:
      if (value[0] == '^') return value_select(pool, name, apr_psprintf(pool, "like '%s%%'", value + 1));
      return value_select(pool, name, apr_psprintf(pool, "like '%%%s%%'", value));
    case Op::kDoesNotContain:
      return value_select(pool, name, apr_psprintf(pool, "not like '%%%s%%'", value));
    case Op::kDerivedFrom:
      return value_select(pool, name, apr_psprintf(pool, "like '%s%%'", value));
    default:
      break;
  }
  const char *exists = apr_psprintf(pool, kPropSelect, name);
  if (strcasecmp(value, "true") == 0) return exists;
  if (strcasecmp(value, "false") == 0) {
    return apr_psprintf(pool, "select objectoid as searchObjectOid from prop where searchObjectOid not in (%s)", exists);
  }
  LOG4C(kModule, LOG4C_ERROR,
        log4c_sprintf("Invalid search criteria exists operator has %s instead of true / false", value));
  return nullptr;
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
  if (left.is_select != joins || right.is_select != joins) return fail_whole(p);
  const char *sql = joins ? apr_psprintf(p.pool, "select * from (%s %s %s)", left.text,
                                         op.op == Op::kAnd ? "INTERSECT" : "UNION", right.text)
                          : comparison(p, op, property_name(left.text), right.text);
  if (sql == nullptr) return false;
  p.operands.push_back({sql, true});
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
      p.operands.push_back({operand, false});
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

}  // namespace

const char *msdb_search_criteria_to_sql(apr_pool_t *pool, const char *criteria, DbEscapeFn escape) {
  if (criteria == nullptr) {
    LOG4C(kModule, LOG4C_ERROR, "Invalid search criteria");
    return nullptr;
  }
  Parser p{pool, criteria, escape, criteria, {}, {}};
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
  if (!p.operators.empty() || p.operands.size() != 1 || !p.operands.back().is_select) {
    fail_whole(p);
    return nullptr;
  }
  return p.operands.back().text;
}
