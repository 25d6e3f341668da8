// A second process for the registry store tests. It writes to a store and
// reports through its standard output (a pipe of the test):
//
//   registry_writer <store> write <key> <count>
//     prints "R" once the store is open, then creates <key>\0 .. <key>\<count-1>
//     with the values "Index" (DWORD) and "Text" (string), each operation its
//     own transaction; prints "D" and exits 0 when every write succeeded,
//     exits 1 on the first failed one.
//
//   registry_writer <store> churn <key> <ready_after>
//     builds, forever, the subtree <key>\Tmp\<i> (values on three levels and a
//     payload of several pages) and moves it to <key>\Done\<i>; every tenth
//     round it also deletes an older Done entry. After <ready_after> rounds it
//     prints "R" and goes on until it is killed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/registry_store.h"

namespace {

using platform::RegistryRoot;

void Say(const char* text) {
  // Unbuffered on purpose: the test waits for these bytes.
  if (write(STDOUT_FILENO, text, 2) != 2) _exit(3);
}

// The payload of churn round i, also rebuilt by the test to check it.
std::string Payload(long i) {
  std::string payload;
  for (int n = 0; payload.size() < 12000; ++n) payload += std::to_string(i * 7919 + n) + ";";
  return payload;
}

int Write(platform::RegistryStore& store, const std::string& key, long count) {
  auto lm = RegistryRoot::LocalMachine;
  for (long i = 0; i < count; ++i) {
    std::string sub = key + "\\" + std::to_string(i);
    if (!store.CreateKey(lm, sub)) return 1;
    if (!store.WriteDWord(lm, sub, "Index", static_cast<uint32_t>(i))) return 1;
    if (!store.WriteString(lm, sub, "Text", "entry " + std::to_string(i))) return 1;
  }
  Say("D\n");
  return 0;
}

int Churn(platform::RegistryStore& store, const std::string& key, long ready_after) {
  auto lm = RegistryRoot::LocalMachine;
  for (long i = 0;; ++i) {
    std::string tmp = key + "\\Tmp\\" + std::to_string(i);
    std::string n = std::to_string(i);
    if (!store.CreateKey(lm, tmp + "\\Sub\\Deep")) return 1;
    if (!store.WriteString(lm, tmp, "Name", "round " + n)) return 1;
    if (!store.WriteDWord(lm, tmp + "\\Sub", "Index", static_cast<uint32_t>(i))) return 1;
    if (!store.WriteString(lm, tmp + "\\Sub\\Deep", "Payload", Payload(i))) return 1;
    if (!store.MoveKey(lm, tmp, key + "\\Done\\" + n)) return 1;
    if (i % 10 == 9 && !store.DeleteKey(lm, key + "\\Done\\" + std::to_string(i - 5))) return 1;
    if (i + 1 == ready_after) Say("R\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <store> write|churn <key> <number>\n", argv[0]);
    return 2;
  }
  std::string error;
  auto store = platform::RegistryStore::Open(argv[1], &error);
  if (!store) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::string mode = argv[2];
  long number = std::strtol(argv[4], nullptr, 10);
  if (mode == "write") {
    Say("R\n");
    return Write(*store, argv[3], number);
  }
  if (mode == "churn") return Churn(*store, argv[3], number);
  return 2;
}
