// kv_make_docs OUT_FOLDER README VERSION DATE SUMMARY
// Writes the manual pages kestrevane.1 and kestrevane-cli.1 and the bash
// completion kestrevane-cli.bash into OUT_FOLDER.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "packaging/bash_completion.h"
#include "packaging/manual_page.h"

namespace {

bool Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) std::cerr << "kv_make_docs: cannot write " << path << "\n";
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: kv_make_docs OUT_FOLDER README VERSION DATE SUMMARY\n";
    return 2;
  }
  const std::string folder = argv[1];
  std::ifstream readme_file(argv[2], std::ios::binary);
  std::stringstream readme;
  readme << readme_file.rdbuf();
  if (!readme_file) {
    std::cerr << "kv_make_docs: cannot read " << argv[2] << "\n";
    return 1;
  }
  const packaging::PageStamp stamp{argv[3], argv[4], argv[5]};
  const bool written =
      Write(folder + "/kestrevane.1", packaging::ProgramManualPage(readme.str(), stamp)) &&
      Write(folder + "/kestrevane-cli.1", packaging::CliManualPage(stamp)) &&
      Write(folder + "/kestrevane-cli.bash", packaging::BashCompletion());
  return written ? 0 : 1;
}
