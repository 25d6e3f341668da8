// How fast the encoder control takes a child's console output, against a
// plain pipe read of the same bytes measured in the same run.
//
//   encoder_output_bench [MB/s] [seconds] [MB for the throughput runs]
//
// 1. Throughput: `cat` of a file of encoder-style lines, read (a) by a plain
//    loop over the pipe that only counts line ends (the peer), (b) through
//    CConRedir with every line handed to the user-interface thread, and
//    (c) through TKVNEncoder, whose every line is an encoding percentage.
// 2. Paced: this program as the child writes timestamped lines at the given
//    rate (10 MB/s by default). Reported: lines lost, the longest time one of
//    the child's writes was held up, the time from a line written to its
//    notification on the user-interface thread, and how late a 10 ms timer
//    on that thread ran meanwhile.
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "queue/con_redir.h"
#include "queue/encoder_control.h"
#include "queue/ui_handover.h"

namespace {

int64_t NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// One line as the encoder prints its progress, with a sequence number and
// the time it was made; about 80 bytes.
std::string MakeLine(int64_t sequence, int64_t stamp) {
  char line[128];
  int n = std::snprintf(line, sizeof line,
                        "Encoding@bench: seq %010" PRId64 " t %019" PRId64 " (%d%%)\r\n", sequence,
                        stamp, static_cast<int>(sequence % 100));
  return std::string(line, static_cast<size_t>(n));
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The child: lines at `rate` bytes per second for `seconds`, in chunks of
// about 4 KB; on standard error the line count and the longest write.
int PacedWriter(double rate, double seconds) {
  const int64_t start = NowNs();
  const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
  int64_t sequence = 0, bytes = 0, longest_write = 0;
  std::string chunk;
  for (;;) {
    int64_t now = NowNs();
    if (now >= end) break;
    int64_t due = static_cast<int64_t>((now - start) * 1e-9 * rate);
    if (bytes >= due) {
      timespec nap{0, 200000};
      nanosleep(&nap, nullptr);
      continue;
    }
    chunk.clear();
    while (chunk.size() < 4096) chunk += MakeLine(sequence++, NowNs());
    int64_t before = NowNs();
    if (!WriteAll(1, chunk.data(), chunk.size())) return 1;
    longest_write = std::max(longest_write, NowNs() - before);
    bytes += static_cast<int64_t>(chunk.size());
  }
  std::fprintf(stderr, "wrote %" PRId64 " lines %" PRId64 " bytes longest_write_us %" PRId64 "\r",
               sequence, bytes, longest_write / 1000);
  return 0;
}

double Seconds(int64_t ns) {
  return static_cast<double>(ns) * 1e-9;
}

// The peer: `cat file` through a pipe, read in blocks of the same size, line
// ends counted.
int64_t PlainPipeRead(const std::string& file, int64_t* lines) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  int64_t start = NowNs();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    execlp("cat", "cat", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char block[1024];
  *lines = 0;
  ssize_t n;
  while ((n = read(fds[0], block, sizeof block)) > 0)
    for (ssize_t i = 0; i < n; ++i) *lines += block[i] == '\r';
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return NowNs() - start;
}

// The peer of the paced run: the same writer through a plain pipe, its lines
// cut and timed on the reading thread itself.
struct PacedPeer {
  int64_t lines = 0;
  std::vector<int64_t> latencies;
  std::string report;
};

PacedPeer PlainPacedRead(const std::string& self, double rate, double seconds) {
  PacedPeer peer;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return peer;
  char numbers[2][32];
  std::snprintf(numbers[0], sizeof numbers[0], "%.0f", rate);
  std::snprintf(numbers[1], sizeof numbers[1], "%.3f", seconds);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    execl(self.c_str(), self.c_str(), "--write", numbers[0], numbers[1],
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  char block[1024];
  std::string line;
  ssize_t n;
  while ((n = read(out[0], block, sizeof block)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (block[i] != '\r') {
        line += block[i];
        continue;
      }
      ++peer.lines;
      size_t at = line.find(" t ");
      if (at != std::string::npos)
        peer.latencies.push_back(NowNs() - std::strtoll(line.c_str() + at + 3, nullptr, 10));
      line.clear();
    }
  }
  while ((n = read(err[0], block, sizeof block)) > 0) peer.report.append(block, n);
  close(out[0]);
  close(err[0]);
  waitpid(pid, nullptr, 0);
  return peer;
}

// CConRedir with every line handed to the user-interface thread the way the
// encoder control hands over its notifications.
class Forwarder : public queue::CConRedir {
 public:
  Forwarder() = default;
  ~Forwarder() { Close(); }

  int64_t lines = 0;  // counted on the user-interface thread
  bool ended = false;
  std::vector<int64_t> latencies;  // ns, paced run only
  std::string err_text;            // the child's report
  bool keep_latency = false;

 protected:
  void OnStdOutLine(const std::string& line) override {
    ui_.Post([this, line] {
      ++lines;
      if (!keep_latency) return;
      size_t at = line.find(" t ");
      if (at != std::string::npos)
        latencies.push_back(NowNs() - std::strtoll(line.c_str() + at + 3, nullptr, 10));
    });
  }
  void OnStdErrLine(const std::string& line) override {
    ui_.Post([this, line] { err_text += line; });
  }
  void OnChildEnded() override {
    ui_.Post([this] { ended = true; });
  }

 private:
  queue::UiHandover ui_;
};

class CountingEvents : public queue::EncoderEvents {
 public:
  void ShowVolumeProgress(double, bool) override { ++progress; }
  void VolumeFinished(int, int) override { ended = true; }
  void RunStopped(bool, const std::string&) override { ended = true; }
  int64_t progress = 0;
  bool ended = false;
};

void ServeUntil(const bool& flag) {
  while (!flag) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  QCoreApplication::processEvents();  // whatever was queued behind the end
}

int64_t Percentile(std::vector<int64_t> values, double p) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  size_t at = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  return values[at];
}

// A file of `file_mb` MB of the encoder's lines; their count.
int64_t WriteLinesFile(const std::string& data, double file_mb) {
  int64_t file_lines = 0;
  std::FILE* out = std::fopen(data.c_str(), "wb");
  int64_t bytes = 0;
  while (bytes < static_cast<int64_t>(file_mb * 1048576)) {
    std::string line = MakeLine(file_lines++, 0);
    std::fwrite(line.data(), 1, line.size(), out);
    bytes += static_cast<int64_t>(line.size());
  }
  std::fclose(out);
  return file_lines;
}

// The file through CConRedir with every line handed to the user-interface
// thread; its time in ns, -1 when the child cannot be started.
int64_t RedirThroughput(const std::string& data, double file_mb, int64_t file_lines) {
  Forwarder forwarder;
  int64_t start = NowNs();
  if (!forwarder.Open("cat " + data, 0, false)) return -1;
  ServeUntil(forwarder.ended);
  const int64_t redir_ns = NowNs() - start;
  std::printf("  CConRedir to the UI thread:  %7.3f s  %10.0f lines/s  %7.1f MB/s  lines %s\n",
              Seconds(redir_ns), forwarder.lines / Seconds(redir_ns), file_mb / Seconds(redir_ns),
              forwarder.lines == file_lines ? "all" : "LOST");
  return redir_ns;
}

// The file as the output of this program started as the encoder, through
// TKVNEncoder's percentages; its time in ns, -1 when it cannot start.
int64_t EncoderThroughput(const char* self, const std::string& data, double file_mb,
                          int64_t file_lines) {
  std::FILE* job = std::fopen("out01.rpjf", "wb");
  std::fputs("<job xmlns=\"http://ns.real.com/tools/job.2.0\">\r\n", job);
  std::fclose(job);
  setenv("KV_BENCH_DATA", data.c_str(), 1);
  CountingEvents events;
  queue::TKVNEncoder encoder;
  encoder.SetEvents(&events);
  int64_t start = NowNs();
  if (!encoder.StartVolume(self, "out01.rpjf", 1, 1, queue::PriorityClass::Normal)) return -1;
  ServeUntil(events.ended);
  const int64_t encoder_ns = NowNs() - start;
  std::printf("  TKVNEncoder percentages:     %7.3f s  %10.0f lines/s  %7.1f MB/s  lines %s\n",
              Seconds(encoder_ns), events.progress / Seconds(encoder_ns),
              file_mb / Seconds(encoder_ns), events.progress == file_lines ? "all" : "LOST");
  return encoder_ns;
}

// Lines written at `rate_mb` for `seconds` by a child of this program: how
// many arrive, how long they take to reach the user-interface thread, and
// how late that thread's timer runs meanwhile, against a plain pipe read of
// the same writer.
bool PacedRun(const char* self, double rate_mb, double seconds) {
  Forwarder forwarder;
  forwarder.keep_latency = true;
  int64_t timer_late_max = 0, last_tick = 0, ticks = 0;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    int64_t now = NowNs();
    if (last_tick != 0) timer_late_max = std::max(timer_late_max, now - last_tick - 10000000);
    last_tick = now;
    ++ticks;
  });
  timer.start(10);
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, " --write %.0f %.3f", rate_mb * 1048576, seconds);
  std::string command = std::string(self) + numbers;
  int64_t start = NowNs();
  if (!forwarder.Open(command, 0, false)) return false;
  ServeUntil(forwarder.ended);
  int64_t took = NowNs() - start;
  timer.stop();
  int64_t written = -1, written_bytes = 0, longest_write_us = -1;
  std::sscanf(forwarder.err_text.c_str(),
              "wrote %" SCNd64 " lines %" SCNd64 " bytes longest_write_us %" SCNd64, &written,
              &written_bytes, &longest_write_us);
  std::printf("paced: %.1f MB/s asked for %.1f s\n", rate_mb, seconds);
  std::printf("  child wrote %" PRId64 " lines (%.1f MB/s), received %" PRId64 " (%s)\n", written,
              written_bytes / 1048576.0 / seconds, forwarder.lines,
              written == forwarder.lines ? "none lost" : "LOST");
  std::printf("  longest write of the child held up: %.3f ms\n", longest_write_us / 1000.0);
  std::printf("  line written -> UI notification: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              Percentile(forwarder.latencies, 0.5) / 1e6,
              Percentile(forwarder.latencies, 0.99) / 1e6,
              Percentile(forwarder.latencies, 1.0) / 1e6);
  std::printf("  10 ms UI timer: %" PRId64 " ticks in %.2f s, latest by %.3f ms\n", ticks,
              Seconds(took), timer_late_max / 1e6);

  PacedPeer peer = PlainPacedRead(self, rate_mb * 1048576, seconds);
  int64_t peer_written = -1, peer_bytes = 0, peer_longest_us = -1;
  std::sscanf(peer.report.c_str(),
              "wrote %" SCNd64 " lines %" SCNd64 " bytes longest_write_us %" SCNd64, &peer_written,
              &peer_bytes, &peer_longest_us);
  std::printf("  peer (plain pipe read, same writer): received %" PRId64 " of %" PRId64
              ", longest write held up %.3f ms, line written -> read: median %.3f ms, "
              "p99 %.3f ms, max %.3f ms\n",
              peer.lines, peer_written, peer_longest_us / 1000.0,
              Percentile(peer.latencies, 0.5) / 1e6, Percentile(peer.latencies, 0.99) / 1e6,
              Percentile(peer.latencies, 1.0) / 1e6);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write") == 0)
    return PacedWriter(std::atof(argv[2]), std::atof(argv[3]));
  if (argc >= 2 && std::strcmp(argv[1], "-j") == 0) {
    // Started as the encoder by TKVNEncoder: play the file named in the
    // environment.
    const char* file = std::getenv("KV_BENCH_DATA");
    if (!file) return 2;
    execlp("cat", "cat", file, static_cast<char*>(nullptr));
    return 127;
  }

  QCoreApplication app(argc, argv);
  char self[4096];
  if (!realpath(argv[0], self)) return 1;
  double rate_mb = argc > 1 ? std::atof(argv[1]) : 10.0;
  double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
  double file_mb = argc > 3 ? std::atof(argv[3]) : 32.0;
  char folder_template[] = "/tmp/kv-encoder-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return 1;
  std::string folder = folder_template;
  std::string data = folder + "/lines.txt";
  if (chdir(folder.c_str()) != 0) return 1;

  const int64_t file_lines = WriteLinesFile(data, file_mb);
  std::printf("throughput: %.0f MB file, %" PRId64 " lines\n", file_mb, file_lines);
  int64_t peer_lines = 0;
  int64_t peer_ns = PlainPipeRead(data, &peer_lines);
  std::printf("  peer (cat | plain read):     %7.3f s  %10.0f lines/s  %7.1f MB/s\n",
              Seconds(peer_ns), peer_lines / Seconds(peer_ns), file_mb / Seconds(peer_ns));
  const int64_t redir_ns = RedirThroughput(data, file_mb, file_lines);
  if (redir_ns < 0) return 1;
  const int64_t encoder_ns = EncoderThroughput(self, data, file_mb, file_lines);
  if (encoder_ns < 0) return 1;
  std::printf("  time ratio against the peer: CConRedir %.2f, TKVNEncoder %.2f\n",
              static_cast<double>(redir_ns) / peer_ns, static_cast<double>(encoder_ns) / peer_ns);
  if (!PacedRun(self, rate_mb, seconds)) return 1;

  std::remove(data.c_str());
  std::remove((folder + "/out01.rpjf").c_str());
  rmdir(folder.c_str());
  return 0;
}
