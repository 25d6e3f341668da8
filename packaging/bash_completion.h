#pragma once

#include <string>

namespace packaging {

// The bash completion of kestrevane-cli, made from its command table: the
// commands, each command's options, the words some options and operands
// take, folders where a folder is asked for, and the queue's job names
// (from "kestrevane-cli list --names") where a job is asked for. It uses the
// helpers of the bash-completion package.
std::string BashCompletion();

}  // namespace packaging
