// Evaluation of parsed scripts: variables, the current clip "last",
// operators and calls with argument binding against function signatures.
#include "outside/frameserver/interpreter.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace kvfs {

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::Void:
      return "nothing";
    case ValueType::Clip:
      return "clip";
    case ValueType::Int:
      return "int";
    case ValueType::Float:
      return "float";
    case ValueType::Bool:
      return "bool";
    case ValueType::String:
      return "string";
    case ValueType::Any:
      return "any";
  }
  return "?";
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool Accepts(ValueType param, const Value& v) {
  if (v.type == ValueType::Void) return false;
  if (param == ValueType::Any) return true;
  if (param == ValueType::Float) return v.type == ValueType::Float || v.type == ValueType::Int;
  return param == v.type;
}

std::string SignatureText(const Function& f) {
  std::string text = f.name + "(";
  for (size_t i = 0; i < f.params.size(); ++i) {
    if (i) text += ", ";
    const Param& p = f.params[i];
    text += (p.optional ? "[" : "") + std::string(TypeName(p.type)) + " " + p.name +
            (p.optional ? "]" : "");
  }
  return text + ")";
}

// Binds arguments to a function's parameters; on failure says why.
bool Bind(const Function& f, const std::vector<Value>& values,
          const std::vector<std::string>& names, std::vector<Value>* bound,
          std::vector<bool>* given, std::string* why) {
  const size_t n = f.params.size();
  bound->assign(n, Value());
  given->assign(n, false);
  size_t next = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    size_t slot;
    if (names[i].empty()) {
      if (next >= n) {
        *why = "too many arguments";
        return false;
      }
      slot = next++;
    } else {
      slot = n;
      for (size_t p = 0; p < n; ++p)
        if (strcasecmp(f.params[p].name.c_str(), names[i].c_str()) == 0) slot = p;
      if (slot == n) {
        *why = "it has no parameter named '" + names[i] + "'";
        return false;
      }
    }
    if ((*given)[slot]) {
      *why = "'" + f.params[slot].name + "' is given twice";
      return false;
    }
    if (!Accepts(f.params[slot].type, values[i])) {
      *why = "'" + f.params[slot].name + "' must be a " + TypeName(f.params[slot].type) +
             ", not a " + TypeName(values[i].type);
      return false;
    }
    (*bound)[slot] = values[i];
    (*given)[slot] = true;
  }
  for (size_t p = 0; p < n; ++p) {
    if (!(*given)[p] && !f.params[p].optional) {
      *why = "'" + f.params[p].name + "' is missing";
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<Param> ParseSignature(const std::string& signature) {
  std::vector<Param> params;
  size_t pos = 0;
  const std::string s = signature;
  while (pos <= s.size()) {
    size_t comma = s.find(',', pos);
    if (comma == std::string::npos) comma = s.size();
    std::string item = Trimmed(s.substr(pos, comma - pos));
    pos = comma + 1;
    if (item.empty()) {
      if (comma == s.size() && params.empty()) break;
      throw std::invalid_argument("empty parameter in \"" + signature + "\"");
    }
    Param p{};
    if (item.front() == '[') {
      if (item.back() != ']') throw std::invalid_argument("unclosed '[' in \"" + signature + "\"");
      p.optional = true;
      item = Trimmed(item.substr(1, item.size() - 2));
    }
    const size_t space = item.find_first_of(" \t");
    if (space == std::string::npos)
      throw std::invalid_argument("parameter without name in \"" + signature + "\"");
    const std::string type = Lower(item.substr(0, space));
    p.name = Trimmed(item.substr(space));
    if (p.name.empty() || !std::all_of(p.name.begin(), p.name.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
        }))
      throw std::invalid_argument("bad parameter name in \"" + signature + "\"");
    if (type == "clip")
      p.type = ValueType::Clip;
    else if (type == "int")
      p.type = ValueType::Int;
    else if (type == "float")
      p.type = ValueType::Float;
    else if (type == "bool")
      p.type = ValueType::Bool;
    else if (type == "string")
      p.type = ValueType::String;
    else if (type == "any")
      p.type = ValueType::Any;
    else
      throw std::invalid_argument("unknown type '" + type + "' in \"" + signature + "\"");
    params.push_back(p);
    if (comma == s.size()) break;
  }
  return params;
}

void CallContext::Fail(const std::string& message) const {
  throw ScriptError(call.line, call.column, call.name + ": " + message);
}

std::string CallContext::Resolve(const std::string& name) const {
  return interpreter.Resolve(name);
}

Interpreter::Interpreter(InterpreterOptions options) : options_(std::move(options)) {
  AddBuiltins(*this);
  if (!options_.autoload.empty() && options_.allow_plugins) {
    try {
      LoadPlugin(options_.autoload);
    } catch (const std::exception&) {
      // The image library is only needed by ImageSource, which says so.
    }
  }
}

Interpreter::~Interpreter() = default;

std::string Interpreter::Key(const std::string& name) const {
  return Lower(name);
}

std::string Interpreter::Resolve(const std::string& name) const {
  if (name.empty() || name.front() == '/' || options_.folder.empty()) return name;
  return options_.folder + (options_.folder.back() == '/' ? "" : "/") + name;
}

void Interpreter::AddFunction(Function function) {
  auto& list = functions_[Key(function.name)];
  list.insert(list.begin(), std::move(function));
}

Value Interpreter::Run(const Program& program) {
  Value result;
  for (const auto& statement : program.statements) {
    switch (statement->kind) {
      case NodeKind::Assign: {
        Value v = Evaluate(*statement->kids[0]);
        if (v.type == ValueType::Void)
          throw ScriptError(statement->line, statement->column,
                            "'" + statement->name + "' is given no value");
        (statement->flag ? globals_ : variables_)[Key(statement->name)] = std::move(v);
        auto last = variables_.find("last");
        result = last != variables_.end() ? last->second : Value();
        break;
      }
      case NodeKind::Return:
        return Evaluate(*statement->kids[0]);
      default: {
        result = Evaluate(*statement->kids[0]);
        if (result.type == ValueType::Clip) variables_["last"] = result;
        break;
      }
    }
  }
  return result;
}

Value Interpreter::Evaluate(const Node& node) {
  switch (node.kind) {
    case NodeKind::IntegerLiteral:
      return Value::Int(node.integer);
    case NodeKind::FloatLiteral:
      return Value::Float(node.number);
    case NodeKind::StringLiteral:
      return Value::Text(node.name);
    case NodeKind::BoolLiteral:
      return Value::Bool(node.flag);
    case NodeKind::Variable:
      return Variable(node);
    case NodeKind::Call:
      return Call(node);
    case NodeKind::Unary:
      return Unary(node);
    case NodeKind::Binary:
      return Binary(node);
    case NodeKind::Conditional: {
      Value c = Evaluate(*node.kids[0]);
      if (c.type != ValueType::Bool)
        throw ScriptError(
            node.line, node.column,
            std::string("the condition before '?' must be a bool, not a ") + TypeName(c.type));
      return Evaluate(*node.kids[c.boolean ? 1 : 2]);
    }
    default:
      throw ScriptError(node.line, node.column, "a statement cannot stand here");
  }
}

Value Interpreter::Variable(const Node& node) {
  const std::string key = Key(node.name);
  if (auto it = variables_.find(key); it != variables_.end()) return it->second;
  if (auto it = globals_.find(key); it != globals_.end()) return it->second;
  if (functions_.count(key)) return CallNamed(node, node.name, {}, {});
  if (key == "last")
    throw ScriptError(node.line, node.column, "there is no current clip ('last') yet");
  throw ScriptError(node.line, node.column,
                    "'" + node.name + "' is neither a variable nor a function");
}

Value Interpreter::Call(const Node& call) {
  std::vector<Value> values;
  values.reserve(call.kids.size());
  for (const auto& kid : call.kids) {
    values.push_back(Evaluate(*kid));
    if (values.back().type == ValueType::Void)
      throw ScriptError(kid->line, kid->column, "this argument of " + call.name + " has no value");
  }
  return CallNamed(call, call.name, std::move(values), call.arg_names);
}

Value Interpreter::CallNamed(const Node& at, const std::string& name, std::vector<Value> values,
                             const std::vector<std::string>& names) {
  auto found = functions_.find(Key(name));
  if (found == functions_.end())
    throw ScriptError(at.line, at.column, "there is no function named '" + name + "'");
  const std::vector<Function>& overloads = found->second;

  const Function* chosen = nullptr;
  std::vector<Value> bound;
  std::vector<bool> given;
  std::string first_why;
  for (const Function& f : overloads) {
    std::string why;
    if (Bind(f, values, names, &bound, &given, &why)) {
      chosen = &f;
      break;
    }
    if (first_why.empty()) first_why = why;
  }
  if (!chosen) {
    // A function whose first parameter is a clip takes the current clip
    // when the call leaves it out.
    auto last = variables_.find("last");
    const bool wants_clip = !overloads.front().params.empty() &&
                            overloads.front().params[0].type == ValueType::Clip &&
                            (values.empty() || values[0].type != ValueType::Clip);
    if (last == variables_.end() || last->second.type != ValueType::Clip) {
      if (wants_clip) first_why += " (and there is no current clip to take)";
    } else {
      std::vector<Value> with_last;
      with_last.reserve(values.size() + 1);
      with_last.push_back(last->second);
      with_last.insert(with_last.end(), values.begin(), values.end());
      std::vector<std::string> with_names;
      with_names.push_back("");
      with_names.insert(with_names.end(), names.begin(), names.end());
      std::string last_why;
      for (const Function& f : overloads) {
        if (f.params.empty() || f.params[0].type != ValueType::Clip) continue;
        std::string why;
        if (Bind(f, with_last, with_names, &bound, &given, &why)) {
          chosen = &f;
          break;
        }
        if (last_why.empty() && &f == &overloads.front()) last_why = why;
      }
      // With the current clip taken, the rest is what went wrong.
      if (wants_clip && !last_why.empty()) first_why = last_why;
    }
  }
  if (!chosen)
    throw ScriptError(at.line, at.column,
                      "wrong arguments for " + SignatureText(overloads.front()) + ": " + first_why);

  if (++depth_ > kMaxCallDepth) {
    --depth_;
    throw ScriptError(at.line, at.column, "calls are nested too deeply");
  }
  struct Leave {
    int& d;
    ~Leave() { --d; }
  } leave{depth_};
  CallContext context{*this, at};
  Args args(std::move(bound), std::move(given), chosen->name);
  try {
    Value result = chosen->body(args, context);
    if (result.type == ValueType::Clip && result.clip) {
      int depth = 1;
      for (const ClipPtr& child : result.clip->Children())
        if (child && child.get() != result.clip.get()) depth = std::max(depth, child->Depth() + 1);
      if (depth > kMaxClipDepth) context.Fail("the clip is built in too many steps");
      result.clip->SetDepth(std::max(result.clip->Depth(), depth));
    }
    return result;
  } catch (const ScriptError&) {
    throw;
  } catch (const std::exception& e) {
    throw ScriptError(at.line, at.column, chosen->name + ": " + e.what());
  }
}

Value Interpreter::Unary(const Node& node) {
  Value v = Evaluate(*node.kids[0]);
  const char op = node.name[0];
  if (op == '!') {
    if (v.type != ValueType::Bool)
      throw ScriptError(node.line, node.column,
                        std::string("'!' needs a bool, not a ") + TypeName(v.type));
    return Value::Bool(!v.boolean);
  }
  if (v.type == ValueType::Int) {
    if (op == '+') return v;
    if (v.integer == INT64_MIN) throw ScriptError(node.line, node.column, "the number overflows");
    return Value::Int(-v.integer);
  }
  if (v.type == ValueType::Float) return Value::Float(op == '-' ? -v.number : v.number);
  throw ScriptError(node.line, node.column,
                    "'" + node.name + "' needs a number, not a " + TypeName(v.type));
}

Value Interpreter::Binary(const Node& node) {
  const std::string& op = node.name;
  auto fail = [&](const std::string& message) -> Value {
    throw ScriptError(node.line, node.column, message);
  };
  if (op == "&&" || op == "||") {
    Value a = Evaluate(*node.kids[0]);
    if (a.type != ValueType::Bool) return fail("'" + op + "' needs bools");
    if (op == "&&" ? !a.boolean : a.boolean) return a;
    Value b = Evaluate(*node.kids[1]);
    if (b.type != ValueType::Bool) return fail("'" + op + "' needs bools");
    return b;
  }
  Value a = Evaluate(*node.kids[0]);
  Value b = Evaluate(*node.kids[1]);
  const bool numbers = (a.type == ValueType::Int || a.type == ValueType::Float) &&
                       (b.type == ValueType::Int || b.type == ValueType::Float);
  const bool ints = a.type == ValueType::Int && b.type == ValueType::Int;
  const std::string types = std::string(TypeName(a.type)) + " and " + TypeName(b.type);

  if (op == "==" || op == "!=" || op == "<" || op == ">" || op == "<=" || op == ">=") {
    int order;
    if (numbers) {
      if (ints)
        order = (a.integer > b.integer) - (a.integer < b.integer);
      else
        order = (a.AsFloat() > b.AsFloat()) - (a.AsFloat() < b.AsFloat());
    } else if (a.type == ValueType::String && b.type == ValueType::String) {
      order = strcasecmp(a.text.c_str(), b.text.c_str());
      order = (order > 0) - (order < 0);
    } else if (a.type == ValueType::Bool && b.type == ValueType::Bool &&
               (op == "==" || op == "!=")) {
      order = a.boolean == b.boolean ? 0 : 1;
    } else {
      return fail("'" + op + "' cannot compare " + types);
    }
    if (op == "==") return Value::Bool(order == 0);
    if (op == "!=") return Value::Bool(order != 0);
    if (op == "<") return Value::Bool(order < 0);
    if (op == ">") return Value::Bool(order > 0);
    if (op == "<=") return Value::Bool(order <= 0);
    return Value::Bool(order >= 0);
  }
  if (op == "+" && a.type == ValueType::String && b.type == ValueType::String) {
    if (a.text.size() + b.text.size() > kMaxText) return fail("the text grows too long");
    return Value::Text(a.text + b.text);
  }
  if (!numbers) return fail("'" + op + "' is not defined for " + types);
  if (ints) {
    int64_t r = 0;
    bool overflow = false;
    switch (op[0]) {
      case '+':
        overflow = __builtin_add_overflow(a.integer, b.integer, &r);
        break;
      case '-':
        overflow = __builtin_sub_overflow(a.integer, b.integer, &r);
        break;
      case '*':
        overflow = __builtin_mul_overflow(a.integer, b.integer, &r);
        break;
      default:
        if (b.integer == 0) return fail("division by zero");
        if (a.integer == INT64_MIN && b.integer == -1) {
          overflow = true;
          break;
        }
        r = op == "/" ? a.integer / b.integer : a.integer % b.integer;
    }
    if (overflow) return fail("the number overflows");
    return Value::Int(r);
  }
  const double x = a.AsFloat(), y = b.AsFloat();
  switch (op[0]) {
    case '+':
      return Value::Float(x + y);
    case '-':
      return Value::Float(x - y);
    case '*':
      return Value::Float(x * y);
    case '/':
      return Value::Float(x / y);
    default:
      return Value::Float(std::fmod(x, y));
  }
}

ClipPtr OpenScript(std::string_view text, InterpreterOptions options) {
  Program program = Parse(text);
  Interpreter interpreter(std::move(options));
  Value result = interpreter.Run(program);
  const int line = program.statements.empty() ? 0 : program.statements.back()->line;
  const int column = program.statements.empty() ? 0 : program.statements.back()->column;
  if (result.type != ValueType::Clip) {
    throw ScriptError(line, column,
                      result.type == ValueType::Void ? std::string("the script gives no clip")
                                                     : std::string("the script gives a ") +
                                                           TypeName(result.type) + ", not a clip");
  }
  try {
    StartClips(result.clip);
  } catch (const ScriptError&) {
    throw;
  } catch (const std::exception& e) {
    throw ScriptError(0, 0, e.what());
  }
  return result.clip;
}

}  // namespace kvfs
