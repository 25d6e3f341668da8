#include "wizard/analyze_thread.h"

namespace wizard {
namespace {

std::string SleepLockReason(std::string dvd_folder) {
  if (dvd_folder.size() > 1 && dvd_folder.back() == '/') dvd_folder.pop_back();
  return "Analysing the DVD folder " + dvd_folder;
}

}  // namespace

TKVNAnalyzeThread::TKVNAnalyzeThread(AnalysisSetup setup, TitleSetTable& table,
                                     AnalysisEvents& ui_events, WorkerCalls& calls)
    : events_(ui_events, calls,
              platform::TheSleepInhibitor().Inhibit(SleepLockReason(setup.DvdFolder))),
      worker_(std::move(setup), table, control_, events_),
      calls_(calls),
      thread_([this] { Run(); }) {}

TKVNAnalyzeThread::~TKVNAnalyzeThread() {
  control_.RequestStop();
  if (thread_.joinable()) thread_.join();
}

void TKVNAnalyzeThread::Run() {
  worker_.Execute();
  finished_.store(true, std::memory_order_release);
  calls_.Notify();
}

void TKVNAnalyzeThread::WaitFor() {
  calls_.ServeUntil([this] { return Finished(); });
  if (thread_.joinable()) thread_.join();
  // An aborted analysis ends without telling.
  events_.ReleaseSleepLock();
}

void TKVNAnalyzeThread::HandedOver::Log(LogKind kind, const std::string& text) {
  calls_.Call([&] { target_.Log(kind, text); });
}

void TKVNAnalyzeThread::HandedOver::Progress(int percent) {
  calls_.Call([&] { target_.Progress(percent); });
}

void TKVNAnalyzeThread::HandedOver::RemainingSeconds(int seconds) {
  calls_.Call([&] { target_.RemainingSeconds(seconds); });
}

void TKVNAnalyzeThread::HandedOver::ShowError(const std::string& message) {
  calls_.Call([&] { target_.ShowError(message); });
}

bool TKVNAnalyzeThread::HandedOver::AskImport() {
  bool answer = false;
  calls_.Call([&] { answer = target_.AskImport(); });
  return answer;
}

void TKVNAnalyzeThread::HandedOver::Ended(bool success) {
  calls_.Call([&] {
    ReleaseSleepLock();
    target_.Ended(success);
  });
}

}  // namespace wizard
