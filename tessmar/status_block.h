// The caller's status block as the index run writes it: atomically, and only
// while the run may still write (an abandoned run leaves it alone).
#pragma once

#include <atomic>
#include <mutex>

#include "tessmar/include/tessmar.h"
#include "tessmar/text_out.h"

namespace tessmar {

class StatusBlock {
 public:
  explicit StatusBlock(WriteGate* gate) : gate_(gate) {}
  void Attach(TessmarStatus* status) { status_ = status; }
  bool Attached() const { return status_ != nullptr; }
  // The block's fields, to name the one to Put; null when none is attached.
  TessmarStatus* Fields() const { return status_; }

  template <typename T>
  void Put(T& field, T value) {
    if (!status_) return;
    std::lock_guard<std::mutex> lock(gate_->Mutex());
    if (!gate_->Open()) return;
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
  }

 private:
  WriteGate* gate_;
  TessmarStatus* status_ = nullptr;
};

}  // namespace tessmar
