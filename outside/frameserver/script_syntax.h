#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kvfs {

// A fault in a script, at a line and column counted from 1 (0: no place).
class ScriptError : public std::runtime_error {
 public:
  ScriptError(int line, int column, const std::string& message)
      : std::runtime_error(message), line_(line), column_(column) {}
  int line() const { return line_; }
  int column() const { return column_; }

 private:
  int line_;
  int column_;
};

enum class TokenKind {
  End,
  Newline,
  Identifier,
  Integer,
  Float,
  String,
  Operator,  // text holds the operator: ( ) , . = == != < > <= >= + - * / % ! && || ? : { }
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;  // identifier name, operator, or the string's contents
  int64_t integer = 0;
  double number = 0;
  int line = 1;
  int column = 1;
};

// Cuts script text into tokens. Comments ("#" to the end of the line,
// "/* */", nestable "[* *]") are dropped; a backslash at the end of a line
// or at the start of the next joins the two lines; line ends inside
// parentheses are dropped too, so a call may span lines.
std::vector<Token> Tokenize(std::string_view text);

enum class NodeKind {
  // statements
  Assign,      // name = kids[0]; global when flag
  Expression,  // kids[0]
  Return,      // kids[0]
  // expressions
  IntegerLiteral,
  FloatLiteral,
  StringLiteral,
  BoolLiteral,
  Variable,  // a name: a variable, or a function called without arguments
  Call,      // name(kids...) with arg_names; method when flag (kids[0] came before the dot)
  Unary,     // op kids[0]
  Binary,    // kids[0] op kids[1]
  Conditional,
};

struct Node {
  NodeKind kind;
  int line = 0;
  int column = 0;
  std::string name;  // variable, function, operator, or string value
  int64_t integer = 0;
  double number = 0;
  bool flag = false;
  int depth = 1;  // of the tree below and including this node
  std::vector<std::unique_ptr<Node>> kids;
  std::vector<std::string> arg_names;  // per argument of a call; "" for positional
};

struct Program {
  std::vector<std::unique_ptr<Node>> statements;
};

// Parses a whole script; throws ScriptError at the first fault.
Program Parse(std::string_view text);
// Parses text that must be one expression (for text evaluated at start).
std::unique_ptr<Node> ParseExpression(std::string_view text);

}  // namespace kvfs
