// A scripted stand-in for the encoder, for the tests of the encoder control.
// It takes the encoder's command line (-j "out01.rpjf" -daw -lc "e,i" -pid
// pid), runs in the current folder and plays the script file named after the
// job file with ".script" appended, one command a line:
//
//   out TEXT       writes TEXT to standard output in one write; a backslash
//                  before r, n, t, a backslash or xHH is an escape
//   err TEXT       the same on standard error
//   line TEXT      TEXT and a carriage return, in one write
//   fill N C       N copies of the character C in one write
//   sleep MS       waits MS milliseconds
//   pid            writes its process id into "pid"
//   pidtext TEXT   writes TEXT into "pid" instead
//   socket         opens its signal catcher
//   avsdebug       creates "avsdebug", as the frameserver does
//   wait_stop      serves the catcher until the stop message comes, then goes
//                  on with the script; every message is logged to "stops.log"
//   ignore_stop    serves the catcher for ever, logging but never stopping
//   wait_file NAME waits until a file NAME exists (the test has seen what
//                  it waited for)
//   hang           sleeps until it is killed
//   sleeper        starts a child in its process group that sleeps for ever
//                  and writes that child's id into "sleeper.pid"
//   args           writes its arguments, one a line, into "args.txt"
//   fds            writes its open descriptors into "fds.txt"
//   nice           writes its nice value into "nice.txt"
//   exit CODE      ends with CODE (the end of the script ends with 0)
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "queue/encoder_signal.h"

namespace {

int catcher = -1;

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) std::exit(9);
    done += static_cast<size_t>(n);
  }
}

void WriteFile(const char* name, const std::string& text) {
  std::FILE* file = std::fopen(name, "wb");
  if (!file) std::exit(8);
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

void AppendLog(const std::string& text) {
  std::FILE* file = std::fopen("stops.log", "ab");
  if (!file) return;
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

void SleepMs(long ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// Serves the catcher; true when the stop message came.
bool ServeCatcher(bool stop_on_message) {
  if (catcher < 0) {
    for (;;) ::pause();
  }
  for (;;) {
    int32_t first = 0, second = 0;
    if (!queue::ReceiveSignalCatcherMessage(catcher, first, second)) continue;
    AppendLog(std::to_string(first) + " " + std::to_string(second) + "\n");
    if (stop_on_message && first == queue::kStopFirstParameter &&
        second == queue::kStopSecondParameter)
      return true;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string job;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-j") == 0) job = argv[i + 1];
  if (job.empty()) {
    WriteAll(2, "usage: test_encoder -j job -daw -lc \"e,i\" -pid pid\n");
    return 2;
  }
  // Read whole first, so that no descriptor of its own is open while it plays.
  std::vector<std::string> commands;
  {
    std::ifstream script(job + ".script", std::ios::binary);
    if (!script) {
      WriteAll(1, "Error: no script for " + job + "\r");
      return 3;
    }
    for (std::string command; std::getline(script, command);) commands.push_back(command);
  }
  for (std::string& command : commands) {
    if (!command.empty() && command.back() == '\n') command.pop_back();
    std::string word = command.substr(0, command.find(' '));
    std::string rest = command.size() > word.size() ? command.substr(word.size() + 1) : "";
    if (word == "out") {
      WriteAll(1, Unescape(rest));
    } else if (word == "err") {
      WriteAll(2, Unescape(rest));
    } else if (word == "line") {
      WriteAll(1, Unescape(rest) + "\r");
    } else if (word == "fill") {
      size_t count = std::strtoul(rest.c_str(), nullptr, 10);
      char c = rest.empty() ? 'x' : rest.back();
      WriteAll(1, std::string(count, c));
    } else if (word == "sleep") {
      SleepMs(std::strtol(rest.c_str(), nullptr, 10));
    } else if (word == "pid") {
      WriteFile("pid", std::to_string(::getpid()));
    } else if (word == "pidtext") {
      WriteFile("pid", Unescape(rest));
    } else if (word == "socket") {
      catcher = queue::OpenSignalCatcher(::getpid());
      if (catcher < 0) return 7;
    } else if (word == "avsdebug") {
      WriteFile("avsdebug", "");
    } else if (word == "wait_stop") {
      ServeCatcher(true);
    } else if (word == "ignore_stop") {
      ServeCatcher(false);
    } else if (word == "wait_file") {
      while (::access(rest.c_str(), F_OK) != 0) SleepMs(2);
    } else if (word == "hang") {
      for (;;) ::pause();
    } else if (word == "sleeper") {
      pid_t child = ::fork();
      if (child == 0) {
        for (;;) ::pause();
      }
      WriteFile("sleeper.pid", std::to_string(child));
    } else if (word == "args") {
      std::string text;
      for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
      WriteFile("args.txt", text);
    } else if (word == "fds") {
      std::string text;
      if (DIR* dir = ::opendir("/proc/self/fd")) {
        int own = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
          if (entry->d_name[0] == '.') continue;
          if (std::atoi(entry->d_name) == own) continue;
          text += std::string(entry->d_name) + "\n";
        }
        ::closedir(dir);
      }
      WriteFile("fds.txt", text);
    } else if (word == "nice") {
      errno = 0;
      WriteFile("nice.txt", std::to_string(::getpriority(PRIO_PROCESS, 0)));
    } else if (word == "exit") {
      return std::atoi(rest.c_str());
    }
  }
  return 0;
}
