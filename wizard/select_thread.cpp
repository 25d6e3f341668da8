#include "wizard/select_thread.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace wizard {

TKVNSelectThread::~TKVNSelectThread() {
  if (worker_.joinable()) worker_.join();
}

void TKVNSelectThread::Start(PreparationInput input, EndHandler ended) {
  if (running_) return;
  if (worker_.joinable()) worker_.join();
  running_ = true;
  worker_ = std::thread([this, input = std::move(input), ended = std::move(ended)] {
    PreparationResult result = PrepareTitle(input);
    handover_.Post([this, result = std::move(result), ended] {
      worker_.join();
      ended(result);
      running_ = false;
    });
  });
}

void TKVNSelectThread::WaitForEnd() {
  while (running_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace wizard
