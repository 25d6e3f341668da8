#include "tests/queue/queued_jobs.h"

#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "queue/job_store.h"

namespace kv_test {

void ForgetQueuedJobs() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  if (!store) return;
  platform::RegistryAccess registry(*store, platform::RegistryRoot::LocalMachine);
  queue::JobStore jobs(registry);
  jobs.LoadJobList();
  while (!jobs.Jobs().empty() && jobs.RemoveJob(0)) {
  }
}

}  // namespace kv_test
