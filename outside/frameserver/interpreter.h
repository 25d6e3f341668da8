#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "outside/frameserver/clip.h"
#include "outside/frameserver/script_syntax.h"

namespace kvfs {

enum class ValueType { Void, Clip, Int, Float, Bool, String, Any };

const char* TypeName(ValueType type);

struct Value {
  ValueType type = ValueType::Void;
  int64_t integer = 0;
  double number = 0;
  bool boolean = false;
  std::string text;
  ClipPtr clip;

  static Value Of(ClipPtr c) {
    Value v;
    v.type = ValueType::Clip;
    v.clip = std::move(c);
    return v;
  }
  static Value Int(int64_t i) {
    Value v;
    v.type = ValueType::Int;
    v.integer = i;
    return v;
  }
  static Value Float(double f) {
    Value v;
    v.type = ValueType::Float;
    v.number = f;
    return v;
  }
  static Value Bool(bool b) {
    Value v;
    v.type = ValueType::Bool;
    v.boolean = b;
    return v;
  }
  static Value Text(std::string s) {
    Value v;
    v.type = ValueType::String;
    v.text = std::move(s);
    return v;
  }
  // Ints are floats too where a float is asked for.
  double AsFloat() const { return type == ValueType::Int ? static_cast<double>(integer) : number; }
};

struct Param {
  ValueType type;
  std::string name;
  bool optional;
};

// The arguments of one call, in the order of the function's parameters.
class Args {
 public:
  Args(std::vector<Value> values, std::vector<bool> given, std::string function)
      : values_(std::move(values)), given_(std::move(given)), function_(std::move(function)) {}
  bool Given(size_t i) const { return i < given_.size() && given_[i]; }
  const Value& At(size_t i) const { return values_.at(i); }
  ClipPtr ClipAt(size_t i) const { return values_.at(i).clip; }
  int64_t Int(size_t i, int64_t fallback) const { return Given(i) ? values_[i].integer : fallback; }
  double Float(size_t i, double fallback) const {
    return Given(i) ? values_[i].AsFloat() : fallback;
  }
  bool Bool(size_t i, bool fallback) const { return Given(i) ? values_[i].boolean : fallback; }
  std::string Text(size_t i, const std::string& fallback) const {
    return Given(i) ? values_[i].text : fallback;
  }
  const std::string& Function() const { return function_; }
  size_t Count() const { return values_.size(); }

 private:
  std::vector<Value> values_;
  std::vector<bool> given_;
  std::string function_;
};

class Interpreter;

// What a function sees of the script beside its arguments. Failing with
// Fail gives an error at the call.
struct CallContext {
  Interpreter& interpreter;
  const Node& call;
  [[noreturn]] void Fail(const std::string& message) const;
  // A script file name as a path: relative names are taken from the
  // script's folder.
  std::string Resolve(const std::string& name) const;
};

using NativeFunction = std::function<Value(const Args&, CallContext&)>;

struct Function {
  std::string name;
  std::vector<Param> params;
  NativeFunction body;
};

// Parses "clip c, int first, [bool sync_audio]"; throws std::invalid_argument.
std::vector<Param> ParseSignature(const std::string& signature);

struct InterpreterOptions {
  // The script's folder; relative names are taken from it. "" = the
  // process's working folder.
  std::string folder;
  // The plug-in folder registered for the frameserver, asked for when a bare
  // plug-in name is not in the script's folder.
  std::function<std::string()> plugin_folder;
  bool allow_plugins = true;
  // A plug-in loaded with every script ("devil.dll" beside the frameserver).
  std::string autoload;
};

// Evaluates scripts: variables, functions (built-in and from plug-ins) and
// the loaded plug-ins. One interpreter per opened script.
class Interpreter {
 public:
  explicit Interpreter(InterpreterOptions options);
  ~Interpreter();

  // Runs a parsed script and gives its value: the value of its last
  // statement, or the current clip when that statement is an assignment.
  Value Run(const Program& program);
  // Evaluates one expression in the script's variables.
  Value Evaluate(const Node& node);

  void AddFunction(Function function);
  // Loads a plug-in file (a path); throws std::runtime_error.
  void LoadPlugin(const std::string& path);
  std::string Resolve(const std::string& name) const;
  const InterpreterOptions& Options() const { return options_; }

  // Caps that keep arbitrary scripts finite.
  static constexpr size_t kMaxText = 1 << 20;
  static constexpr int kMaxCallDepth = 200;
  static constexpr int kMaxClipDepth = 400;

 private:
  Value Call(const Node& call);
  Value CallNamed(const Node& at, const std::string& name, std::vector<Value> args,
                  const std::vector<std::string>& names);
  Value Variable(const Node& node);
  Value Unary(const Node& node);
  Value Binary(const Node& node);
  std::string Key(const std::string& name) const;

  InterpreterOptions options_;
  std::map<std::string, Value> variables_;
  std::map<std::string, Value> globals_;
  // By lower-case name; later registrations are tried first.
  std::map<std::string, std::vector<Function>> functions_;
  std::set<std::string> loaded_;
  int depth_ = 0;
};

// The frameserver's own functions.
void AddBuiltins(Interpreter& interpreter);

// Parses and runs script text and starts its clip: what opening a script
// means. Throws ScriptError (with a position when the fault has one).
ClipPtr OpenScript(std::string_view text, InterpreterOptions options);

}  // namespace kvfs
