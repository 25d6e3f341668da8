#include "packaging/bash_completion.h"

#include <utility>
#include <vector>

#include "cli/command_table.h"

namespace packaging {

namespace {

std::string Words(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& word : words) out += (out.empty() ? "" : " ") + word;
  return out;
}

// The shell code that completes a value or an operand of this kind.
std::string Completer(const cli::ValueSpec& value) {
  switch (value.Completes) {
    case cli::Completion::Words: {
      const std::string words = Words(*value.Words);
      // A word that ends in ':' wants its number typed after it.
      const bool open_end = words.find(": ") != std::string::npos || words.back() == ':';
      return "COMPREPLY=($(compgen -W '" + words + "' -- \"$cur\"))" +
             (open_end ? "; [[ ${COMPREPLY-} == *: ]] && compopt -o nospace" : "");
    }
    case cli::Completion::Folder:
      return "_filedir -d";
    case cli::Completion::Job:
      return "_kestrevane_cli_jobs";
    case cli::Completion::None:
      break;
  }
  return ":";
}

// The cases of a `case` statement: the patterns that share a completer are
// joined, in the order they first appear.
class Cases {
 public:
  void Add(const std::string& pattern, const std::string& code) {
    for (auto& [patterns, shared] : cases_) {
      if (shared == code) {
        patterns += "|" + pattern;
        return;
      }
    }
    cases_.emplace_back(pattern, code);
  }
  std::string Text() const {
    std::string out;
    for (const auto& [patterns, code] : cases_)
      out += "        " + patterns + ") " + code + " ;;\n";
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> cases_;
};

std::string CommandCases() {
  std::string names;
  Cases values, options, takes_value, operands;
  for (const cli::CommandSpec& command : cli::Commands()) {
    names += (names.empty() ? "" : " ") + command.Name;
    std::string all, valued;
    for (const cli::OptionSpec& option : command.Options) {
      all += (all.empty() ? "" : " ") + option.Name;
      if (option.Value.Name.empty()) continue;
      const std::string pattern = command.Name + ":" + option.Name;
      if (option.ValueOptional) {
        // Its value only follows "=".
        values.Add(pattern, "if $split; then " + Completer(option.Value) + "; return; fi");
      } else {
        valued += (valued.empty() ? "" : "|") + option.Name;
        values.Add(pattern, Completer(option.Value) + "; return");
      }
    }
    options.Add(command.Name, "opts='" + all + "'");
    takes_value.Add(command.Name, "valued='" + valued + "'");
    for (size_t i = 0; i < command.Operands.size(); ++i)
      operands.Add(command.Name + ":" + std::to_string(i), Completer(command.Operands[i]));
  }
  return "    local commands='" + names +
         "'\n"
         "    local command='' i\n"
         "    for ((i = 1; i < cword; i++)); do\n"
         "        [[ ${words[i]} != -* ]] && command=${words[i]} && break\n"
         "    done\n"
         "    if [[ -z $command ]]; then\n"
         "        [[ $cur == -* ]] && commands=--help\n"
         "        COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
         "        return\n"
         "    fi\n"
         "    local command_at=$i\n\n"
         "    # The value of an option.\n"
         "    case $command:$prev in\n" +
         values.Text() +
         "    esac\n"
         "    $split && return\n\n"
         "    local opts='' valued=''\n"
         "    case $command in\n" +
         options.Text() +
         "    esac\n"
         "    if [[ $cur == -* ]]; then\n"
         "        COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
         "        return\n"
         "    fi\n\n"
         "    # Which operand this is: the words after the command that are\n"
         "    # neither options nor their values.\n"
         "    case $command in\n" +
         takes_value.Text() +
         "    esac\n"
         "    local operand=0\n"
         "    for ((i = command_at + 1; i < cword; i++)); do\n"
         "        if [[ ${words[i]} != -* ]]; then\n"
         "            operand=$((operand + 1))\n"
         "        elif [[ ${words[i]} != *=* && \"|$valued|\" == *\"|${words[i]}|\"* ]]; then\n"
         "            i=$((i + 1))\n"
         "        fi\n"
         "    done\n"
         "    case $command:$operand in\n" +
         operands.Text() + "    esac\n";
}

}  // namespace

std::string BashCompletion() {
  return "# bash completion for kestrevane-cli                 -*- shell-script -*-\n"
         "# Made from the program's command table when it was built.\n\n"
         "# The names of the queue's jobs, quoted as the line needs them.\n"
         "_kestrevane_cli_jobs()\n"
         "{\n"
         "    local IFS=$'\\n'\n"
         "    compopt -o filenames\n"
         "    COMPREPLY=($(compgen -W \"$(\"${words[0]}\" list --names 2>/dev/null)\" -- "
         "\"$cur\"))\n"
         "}\n\n"
         "_kestrevane_cli()\n"
         "{\n"
         "    local cur prev words cword split\n"
         "    _init_completion -s -n : || return\n\n" +
         CommandCases() +
         "} &&\n"
         "    complete -F _kestrevane_cli kestrevane-cli\n\n"
         "# ex: filetype=sh\n";
}

}  // namespace packaging
