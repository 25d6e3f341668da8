// Tokenizer and recursive-descent parser of the script language.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "outside/frameserver/script_syntax.h"

namespace kvfs {

namespace {

bool IsIdentStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Describe(char c) {
  char text[32];
  if (c >= 0x21 && c < 0x7f)
    std::snprintf(text, sizeof text, "'%c'", c);
  else
    std::snprintf(text, sizeof text, "byte 0x%02X", static_cast<unsigned char>(c));
  return text;
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) {}

  std::vector<Token> Run() {
    // A byte order mark that editors put in front of UTF-8 text.
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
        Advance(1);
      } else if (c == '\r' || c == '\n') {
        Newline();
      } else if (c == '#') {
        while (pos_ < s_.size() && s_[pos_] != '\n' && s_[pos_] != '\r') Advance(1);
      } else if (c == '/' && Peek(1) == '*') {
        BlockComment();
      } else if (c == '[' && Peek(1) == '*') {
        NestedComment();
      } else if (c == '\\') {
        Continuation();
      } else if (c == '"') {
        String();
      } else if (IsDigit(c) || (c == '.' && IsDigit(Peek(1)))) {
        Number();
      } else if (c == '$') {
        Hex();
      } else if (IsIdentStart(c)) {
        Token t = Start(TokenKind::Identifier);
        const size_t begin = pos_;
        while (pos_ < s_.size() && IsIdentChar(s_[pos_])) Advance(1);
        t.text = std::string(s_.substr(begin, pos_ - begin));
        tokens_.push_back(std::move(t));
      } else {
        Operator();
      }
    }
    Token end = Start(TokenKind::End);
    tokens_.push_back(end);
    return std::move(tokens_);
  }

 private:
  char Peek(size_t ahead) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }
  void Advance(size_t n) {
    for (size_t i = 0; i < n && pos_ < s_.size(); ++i) {
      if (s_[pos_] == '\n' || (s_[pos_] == '\r' && Peek(1) != '\n')) {
        ++line_;
        column_ = 1;
      } else if (s_[pos_] != '\r') {
        ++column_;
      }
      ++pos_;
    }
  }
  Token Start(TokenKind kind) const {
    Token t;
    t.kind = kind;
    t.line = line_;
    t.column = column_;
    return t;
  }
  [[noreturn]] void Fail(int line, int column, const std::string& message) const {
    throw ScriptError(line, column, message);
  }

  void Newline() {
    Token t = Start(TokenKind::Newline);
    Advance(s_[pos_] == '\r' && Peek(1) == '\n' ? 2 : 1);
    // Inside parentheses a line end is only white space; runs of line ends
    // collapse into one token.
    if (depth_ > 0) return;
    if (!tokens_.empty() && tokens_.back().kind == TokenKind::Newline) return;
    tokens_.push_back(t);
  }

  void BlockComment() {
    const int line = line_, column = column_;
    Advance(2);
    while (pos_ < s_.size() && !(s_[pos_] == '*' && Peek(1) == '/')) Advance(1);
    if (pos_ >= s_.size()) Fail(line, column, "the comment started here is not closed with */");
    Advance(2);
  }

  void NestedComment() {
    const int line = line_, column = column_;
    int level = 0;
    do {
      if (pos_ >= s_.size()) Fail(line, column, "the comment started here is not closed with *]");
      if (s_[pos_] == '[' && Peek(1) == '*') {
        ++level;
        Advance(2);
      } else if (s_[pos_] == '*' && Peek(1) == ']') {
        --level;
        Advance(2);
      } else {
        Advance(1);
      }
    } while (level > 0);
  }

  // "\" at the end of a line continues the line; "\" as the first thing on
  // a line continues the previous one.
  void Continuation() {
    size_t ahead = 1;
    while (Peek(ahead) == ' ' || Peek(ahead) == '\t') ++ahead;
    const char after = Peek(ahead);
    if (after == '\n' || after == '\r' || after == '\0') {
      Advance(ahead);
      if (pos_ < s_.size()) Advance(s_[pos_] == '\r' && Peek(1) == '\n' ? 2 : 1);
      return;
    }
    if (!tokens_.empty() && tokens_.back().kind == TokenKind::Newline &&
        tokens_.back().line == line_ - 1) {
      bool line_start = true;
      for (size_t back = pos_; back > 0; --back) {
        const char c = s_[back - 1];
        if (c == '\n' || c == '\r') break;
        if (c != ' ' && c != '\t') line_start = false;
      }
      if (line_start) {
        tokens_.pop_back();
        Advance(1);
        return;
      }
    }
    Fail(line_, column_, "unexpected '\\' (a line is continued with '\\' at its end)");
  }

  void String() {
    Token t = Start(TokenKind::String);
    if (Peek(1) == '"' && Peek(2) == '"') {
      Advance(3);
      const size_t begin = pos_;
      const size_t close = s_.find("\"\"\"", pos_);
      if (close == std::string_view::npos)
        Fail(t.line, t.column, "the text started here is not closed with \"\"\"");
      t.text = std::string(s_.substr(begin, close - begin));
      Advance(close - begin + 3);
    } else {
      Advance(1);
      const size_t begin = pos_;
      while (pos_ < s_.size() && s_[pos_] != '"' && s_[pos_] != '\n' && s_[pos_] != '\r')
        Advance(1);
      if (pos_ >= s_.size() || s_[pos_] != '"')
        Fail(t.line, t.column, "the text started here is not closed with \" on its line");
      t.text = std::string(s_.substr(begin, pos_ - begin));
      Advance(1);
    }
    tokens_.push_back(std::move(t));
  }

  void Number() {
    Token t = Start(TokenKind::Integer);
    const size_t begin = pos_;
    while (pos_ < s_.size() && IsDigit(s_[pos_])) Advance(1);
    bool is_float = false;
    if (pos_ < s_.size() && s_[pos_] == '.' && !IsIdentStart(Peek(1))) {
      is_float = true;
      Advance(1);
      while (pos_ < s_.size() && IsDigit(s_[pos_])) Advance(1);
    }
    if (pos_ < s_.size() && IsIdentStart(s_[pos_]))
      Fail(line_, column_, "a number is followed by " + Describe(s_[pos_]));
    const std::string text(s_.substr(begin, pos_ - begin));
    if (is_float) {
      t.kind = TokenKind::Float;
      t.number = std::strtod(text.c_str(), nullptr);
    } else {
      int64_t value = 0;
      for (char c : text) {
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, c - '0', &value))
          Fail(t.line, t.column, "the number " + text + " is too large");
      }
      t.integer = value;
    }
    tokens_.push_back(std::move(t));
  }

  void Hex() {
    Token t = Start(TokenKind::Integer);
    Advance(1);
    if (HexValue(Peek(0)) < 0) Fail(t.line, t.column, "'$' must be followed by hexadecimal digits");
    uint64_t value = 0;
    while (pos_ < s_.size() && HexValue(s_[pos_]) >= 0) {
      if (value > (UINT64_MAX >> 5)) Fail(t.line, t.column, "the number is too large");
      value = value * 16 + static_cast<uint64_t>(HexValue(s_[pos_]));
      Advance(1);
    }
    if (value > static_cast<uint64_t>(INT64_MAX)) Fail(t.line, t.column, "the number is too large");
    t.integer = static_cast<int64_t>(value);
    tokens_.push_back(std::move(t));
  }

  void Operator() {
    static const char* const kTwo[] = {"==", "!=", "<=", ">=", "&&", "||"};
    Token t = Start(TokenKind::Operator);
    for (const char* two : kTwo) {
      if (s_[pos_] == two[0] && Peek(1) == two[1]) {
        t.text = two;
        Advance(2);
        tokens_.push_back(std::move(t));
        return;
      }
    }
    const char c = s_[pos_];
    if (!std::strchr("(),.=<>+-*/%!?:{}", c) || c == '\0')
      Fail(line_, column_, "unexpected " + Describe(c));
    if (c == '(') ++depth_;
    if (c == ')' && depth_ > 0) --depth_;
    t.text = std::string(1, c);
    Advance(1);
    tokens_.push_back(std::move(t));
  }

  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
  int depth_ = 0;
  std::vector<Token> tokens_;
};

bool SameName(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  Program Script() {
    Program program;
    for (;;) {
      while (Is(TokenKind::Newline)) ++pos_;
      if (Is(TokenKind::End)) break;
      program.statements.push_back(Statement());
      if (!Is(TokenKind::Newline) && !Is(TokenKind::End))
        Fail(Cur(), "expected the end of the line, found " + Show(Cur()));
    }
    return program;
  }

  std::unique_ptr<Node> SingleExpression() {
    while (Is(TokenKind::Newline)) ++pos_;
    if (Is(TokenKind::End)) Fail(Cur(), "the text holds no expression");
    auto e = Expression();
    while (Is(TokenKind::Newline)) ++pos_;
    if (!Is(TokenKind::End))
      Fail(Cur(), "expected the end of the expression, found " + Show(Cur()));
    return e;
  }

 private:
  static constexpr int kMaxDepth = 200;

  const Token& Cur() const { return t_[pos_]; }
  const Token& Ahead(size_t n) const { return t_[std::min(pos_ + n, t_.size() - 1)]; }
  bool Is(TokenKind kind) const { return Cur().kind == kind; }
  bool IsOp(const char* op) const { return Is(TokenKind::Operator) && Cur().text == op; }
  [[noreturn]] void Fail(const Token& at, const std::string& message) const {
    throw ScriptError(at.line, at.column, message);
  }
  static std::string Show(const Token& t) {
    switch (t.kind) {
      case TokenKind::End:
        return "the end of the script";
      case TokenKind::Newline:
        return "the end of the line";
      case TokenKind::Identifier:
        return "'" + t.text + "'";
      case TokenKind::Integer:
      case TokenKind::Float:
        return "a number";
      case TokenKind::String:
        return "a text";
      case TokenKind::Operator:
        return "'" + t.text + "'";
    }
    return "?";
  }
  void Expect(const char* op, const std::string& what) {
    if (!IsOp(op))
      Fail(Cur(), "expected '" + std::string(op) + "' " + what + ", found " + Show(Cur()));
    ++pos_;
  }
  std::unique_ptr<Node> Make(NodeKind kind, const Token& at) {
    auto n = std::make_unique<Node>();
    n->kind = kind;
    n->line = at.line;
    n->column = at.column;
    return n;
  }
  // Trees are evaluated and freed recursively: their depth is bounded, not
  // only the parser's own recursion (a long chain "a + b + c ..." or
  // "x.F.F.F ..." grows the tree without nesting the parser).
  std::unique_ptr<Node> Finish(std::unique_ptr<Node> n) {
    for (const auto& kid : n->kids) n->depth = std::max(n->depth, kid->depth + 1);
    if (n->depth > kMaxDepth) throw ScriptError(n->line, n->column, "the expression is too long");
    return n;
  }

  static bool Reserved(const std::string& name) {
    for (const char* word : {"true", "false", "yes", "no", "global", "return", "function"})
      if (SameName(name, word)) return true;
    return false;
  }

  std::unique_ptr<Node> Statement() {
    const Token& first = Cur();
    if (Is(TokenKind::Identifier)) {
      if (SameName(first.text, "function"))
        Fail(first, "functions of the script's own are not supported");
      if (SameName(first.text, "return")) {
        ++pos_;
        auto n = Make(NodeKind::Return, first);
        n->kids.push_back(Expression());
        return n;
      }
      bool global = false;
      size_t name_at = pos_;
      if (SameName(first.text, "global")) {
        global = true;
        name_at = pos_ + 1;
        if (t_[name_at].kind != TokenKind::Identifier)
          Fail(t_[name_at], "expected a variable name after 'global'");
      }
      const Token& name = t_[name_at];
      const Token& after = t_[std::min(name_at + 1, t_.size() - 1)];
      if (global || (after.kind == TokenKind::Operator && after.text == "=")) {
        if (Reserved(name.text)) Fail(name, "'" + name.text + "' cannot be assigned to");
        if (!(after.kind == TokenKind::Operator && after.text == "="))
          Fail(after, "expected '=' after the variable name, found " + Show(after));
        pos_ = name_at + 2;
        auto n = Make(NodeKind::Assign, name);
        n->name = name.text;
        n->flag = global;
        n->kids.push_back(Expression());
        return n;
      }
    }
    auto n = Make(NodeKind::Expression, first);
    n->kids.push_back(Expression());
    return n;
  }

  struct DepthGuard {
    DepthGuard(Parser& p) : p_(p) {
      if (++p_.depth_ > kMaxDepth) p_.Fail(p_.Cur(), "the expression is nested too deeply");
    }
    ~DepthGuard() { --p_.depth_; }
    Parser& p_;
  };

  std::unique_ptr<Node> Expression() {
    DepthGuard guard(*this);
    auto condition = Or();
    if (!IsOp("?")) return condition;
    const Token& at = Cur();
    ++pos_;
    auto n = Make(NodeKind::Conditional, at);
    n->kids.push_back(std::move(condition));
    n->kids.push_back(Expression());
    Expect(":", "in the conditional expression");
    n->kids.push_back(Expression());
    return Finish(std::move(n));
  }

  template <typename Next>
  std::unique_ptr<Node> BinaryLevel(std::initializer_list<const char*> ops, Next next) {
    auto left = (this->*next)();
    for (;;) {
      const char* found = nullptr;
      for (const char* op : ops)
        if (IsOp(op)) found = op;
      if (!found) return left;
      const Token& at = Cur();
      ++pos_;
      auto n = Make(NodeKind::Binary, at);
      n->name = found;
      n->kids.push_back(std::move(left));
      n->kids.push_back((this->*next)());
      left = Finish(std::move(n));
    }
  }
  std::unique_ptr<Node> Or() { return BinaryLevel({"||"}, &Parser::And); }
  std::unique_ptr<Node> And() { return BinaryLevel({"&&"}, &Parser::Compare); }
  std::unique_ptr<Node> Compare() {
    return BinaryLevel({"==", "!=", "<", ">", "<=", ">="}, &Parser::Sum);
  }
  std::unique_ptr<Node> Sum() { return BinaryLevel({"+", "-"}, &Parser::Product); }
  std::unique_ptr<Node> Product() { return BinaryLevel({"*", "/", "%"}, &Parser::Unary); }

  std::unique_ptr<Node> Unary() {
    if (IsOp("-") || IsOp("+") || IsOp("!")) {
      DepthGuard guard(*this);
      const Token& at = Cur();
      ++pos_;
      auto n = Make(NodeKind::Unary, at);
      n->name = at.text;
      n->kids.push_back(Unary());
      return Finish(std::move(n));
    }
    return Postfix();
  }

  std::unique_ptr<Node> Postfix() {
    auto receiver = Primary();
    while (IsOp(".")) {
      ++pos_;
      if (!Is(TokenKind::Identifier))
        Fail(Cur(), "expected a function name after '.', found " + Show(Cur()));
      const Token& name = Cur();
      ++pos_;
      auto call = Make(NodeKind::Call, name);
      call->name = name.text;
      call->flag = true;
      call->kids.push_back(std::move(receiver));
      call->arg_names.push_back("");
      if (IsOp("(")) Arguments(*call);
      receiver = Finish(std::move(call));
    }
    return receiver;
  }

  void Arguments(Node& call) {
    ++pos_;  // "("
    if (IsOp(")")) {
      ++pos_;
      return;
    }
    for (;;) {
      std::string name;
      if (Is(TokenKind::Identifier) && Ahead(1).kind == TokenKind::Operator &&
          Ahead(1).text == "=") {
        name = Cur().text;
        pos_ += 2;
      }
      call.kids.push_back(Expression());
      call.arg_names.push_back(name);
      if (IsOp(",")) {
        ++pos_;
        continue;
      }
      if (IsOp(")")) {
        ++pos_;
        return;
      }
      Fail(Cur(),
           "expected ',' or ')' in the arguments of " + call.name + ", found " + Show(Cur()));
    }
  }

  std::unique_ptr<Node> Primary() {
    const Token& at = Cur();
    switch (at.kind) {
      case TokenKind::Integer: {
        ++pos_;
        auto n = Make(NodeKind::IntegerLiteral, at);
        n->integer = at.integer;
        return n;
      }
      case TokenKind::Float: {
        ++pos_;
        auto n = Make(NodeKind::FloatLiteral, at);
        n->number = at.number;
        return n;
      }
      case TokenKind::String: {
        ++pos_;
        auto n = Make(NodeKind::StringLiteral, at);
        n->name = at.text;
        return n;
      }
      case TokenKind::Identifier: {
        ++pos_;
        for (const char* word : {"true", "yes"}) {
          if (SameName(at.text, word)) {
            auto n = Make(NodeKind::BoolLiteral, at);
            n->flag = true;
            return n;
          }
        }
        for (const char* word : {"false", "no"})
          if (SameName(at.text, word)) return Make(NodeKind::BoolLiteral, at);
        if (Reserved(at.text)) Fail(at, "'" + at.text + "' cannot stand here");
        if (IsOp("(")) {
          auto call = Make(NodeKind::Call, at);
          call->name = at.text;
          Arguments(*call);
          return Finish(std::move(call));
        }
        auto n = Make(NodeKind::Variable, at);
        n->name = at.text;
        return n;
      }
      case TokenKind::Operator:
        if (at.text == "(") {
          ++pos_;
          auto inner = Expression();
          Expect(")", "to close the parenthesis");
          return inner;
        }
        break;
      default:
        break;
    }
    Fail(at, "expected a value, found " + Show(at));
  }

  std::vector<Token> t_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view text) {
  return Lexer(text).Run();
}

Program Parse(std::string_view text) {
  return Parser(Tokenize(text)).Script();
}

std::unique_ptr<Node> ParseExpression(std::string_view text) {
  return Parser(Tokenize(text)).SingleExpression();
}

}  // namespace kvfs
