// The host table a plug-in keeps from its registration for its clips. Every
// script that loads a plug-in registers it again, possibly on one thread
// while clips of another script serve frames on others, so the plug-in's
// pointer to the table is atomic (the table itself is the same constant
// every time). C++ plug-ins only.
#pragma once

#include <atomic>

#include "outside/frameserver/include/frameserver_plugin.h"

namespace kvfs {

class PluginHostTable {
 public:
  void Set(const kvfs_host* table) { table_.store(table, std::memory_order_release); }
  const kvfs_host* Get() const { return table_.load(std::memory_order_acquire); }
  const kvfs_host* operator->() const { return Get(); }

 private:
  std::atomic<const kvfs_host*> table_{nullptr};
};

}  // namespace kvfs
