#include "tests/tessmar/tessmar_test_util.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tessmar/vob_list.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"

namespace kv_test {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CommandResult RunCommand(const std::string& command) {
  CommandResult r;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> SampleVobs(const std::string& disc, int vts) {
  std::vector<std::string> files;
  for (int k = 1; k <= 9; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "/VTS_%02d_%d.VOB", vts, k);
    std::string path = SampleVideoTs(disc) + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) break;
    files.push_back(path);
  }
  return files;
}

std::string JoinBars(const std::vector<std::string>& files) {
  std::string s;
  for (const std::string& f : files) s += (s.empty() ? "" : "|") + f;
  return s;
}

std::string ConcatUrl(const std::vector<std::string>& files) {
  return files.size() == 1 ? files[0] : "concat:" + JoinBars(files);
}

template <typename T>
T Peek(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}
template uint8_t Peek<uint8_t>(uint8_t&);
template float Peek<float>(float&);
template int32_t Peek<int32_t>(int32_t&);
template uint32_t Peek<uint32_t>(uint32_t&);

uint8_t Running(TessmarStatus& s) {
  return Peek(s.running);
}

void WaitForEnd(TessmarStatus& s) {
  while (Running(s)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

int IndexAndWait(const std::vector<std::string>& files, const std::string& out_base, bool audio,
                 bool subpictures, TessmarStatus* status) {
  const tessmar::VobList list(files);
  int r = Tessmar(list.Files(), out_base.c_str(), audio, subpictures, status);
  if (r == 0 && status) WaitForEnd(*status);
  return r;
}

std::vector<std::string> CrLfLines(const std::string& text, int* bare_lf) {
  std::vector<std::string> lines;
  int bare = 0;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      if (!cur.empty() && cur.back() == '\r')
        cur.pop_back();
      else
        ++bare;
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += text[i];
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  if (bare_lf) *bare_lf = bare;
  return lines;
}

GopSummary ReadGops(const std::string& path) {
  GopSummary g;
  for (const std::string& line : CrLfLines(ReadFile(path))) {
    if (line.rfind("7 ", 0) != 0) continue;
    std::istringstream in(line);
    std::vector<std::string> f;
    std::string w;
    while (in >> w) f.push_back(w);
    g.fields.push_back(f);
    ++g.lines;
    size_t flags = f.size() > 5 ? f.size() - 5 : 0;
    g.last_has_9 = !f.empty() && f.back() == "9";
    if (g.last_has_9 && flags > 0) --flags;
    g.frames += static_cast<int64_t>(flags);
  }
  return g;
}

std::string ConcatRanges(const std::string& index_path, int file_col, int offset_col,
                         int length_col, int columns) {
  std::vector<std::string> lines = CrLfLines(ReadFile(index_path));
  if (lines.size() < 2) return std::string();
  size_t count = std::stoul(lines[1]);
  std::vector<std::string> paths(lines.begin() + 2, lines.begin() + 2 + count);
  std::vector<std::ifstream> files;
  for (const std::string& p : paths) files.emplace_back(p, std::ios::binary);
  std::string out;
  for (size_t i = 3 + count; i < lines.size(); ++i) {
    std::istringstream in(lines[i]);
    std::vector<std::string> f;
    std::string w;
    while (in >> w) f.push_back(w);
    if (static_cast<int>(f.size()) != columns) continue;
    size_t file = std::stoul(f[file_col]);
    long long offset = std::stoll(f[offset_col], nullptr, 16);
    size_t length = std::stoul(f[length_col], nullptr, 16);
    if (file >= files.size()) return "bad file index";
    std::string chunk(length, '\0');
    files[file].clear();
    files[file].seekg(offset);
    files[file].read(chunk.data(), static_cast<std::streamsize>(length));
    chunk.resize(static_cast<size_t>(files[file].gcount()));
    out += chunk;
  }
  return out;
}

int64_t FfprobeFrameCount(const std::string& url) {
  CommandResult r = RunCommand(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames -of csv=p=0 " +
      Quote(url));
  try {
    return std::stoll(r.out);
  } catch (...) {
    return -1;
  }
}

std::vector<std::string> FfprobeStreams(const std::string& url, const std::string& entries) {
  CommandResult r =
      RunCommand("ffprobe -v error -show_entries stream=" + entries + " -of csv=p=0 " + Quote(url));
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// ffmpeg's packets of one stream, each as its own string.
std::vector<std::string> FfmpegPackets(const std::string& url, const std::string& map,
                                       std::string* whole) {
  TempDir tmp("tessmar-ff");
  std::string out = tmp.File("stream.raw");
  RunCommand("ffmpeg -v error -y -i " + Quote(url) + " -map " + map + " -c copy -f data " +
             Quote(out));
  *whole = ReadFile(out);
  kv_test::CommandResult sizes = RunCommand(
      "ffprobe -v error -show_entries packet=stream_index,size -of csv=p=0 " + Quote(url));
  int index = std::stoi(map.substr(2));
  std::vector<std::string> packets;
  std::istringstream in(sizes.out);
  std::string line;
  size_t at = 0;
  while (std::getline(in, line)) {
    int s = 0, size = 0;
    if (std::sscanf(line.c_str(), "%d,%d", &s, &size) != 2 || s != index) continue;
    packets.push_back(whole->substr(at, static_cast<size_t>(size)));
    at += static_cast<size_t>(size);
  }
  return packets;
}

}  // namespace kv_test
