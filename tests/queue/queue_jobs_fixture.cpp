#include "tests/queue/queue_jobs_fixture.h"

#include "platform/file_system.h"
#include "queue/job_file.h"
#include "queue/job_store.h"

namespace kv_test {

namespace {

constexpr auto kRoot = platform::RegistryRoot::LocalMachine;

std::string Entry(int index) {
  return std::string(queue::kJobsKey) + "\\" + std::to_string(index);
}

}  // namespace

QueueJobsTest::QueueJobsTest() : previous_folder_(platform::CurrentFolder()) {}

QueueJobsTest::~QueueJobsTest() {
  platform::SetCurrentFolder(previous_folder_);
}

std::string QueueJobsTest::MakeJob(const std::string& name, const std::string& progress,
                                   int volumes, const std::string& time, const std::string& left) {
  const std::string folder = dir_.File("jobs/" + name);
  WriteFile(queue::JobFilePathOf(folder),
            queue::FormatJobFileText(name, "09.12.2026 10:00", progress, time, left));
  for (int k = 1; k <= volumes; ++k)
    WriteFile(queue::JobDataFolderOf(folder) + queue::EncoderJobFileName(k), "<job/>");
  ListJob(folder, name);
  return folder;
}

void QueueJobsTest::ListJob(const std::string& folder, const std::string& name, bool done) {
  auto& store = registry_.Store();
  const std::string entry = Entry(listed_++);
  ASSERT_TRUE(store.CreateKey(kRoot, entry));
  ASSERT_TRUE(store.WriteString(kRoot, entry, "Name", name));
  ASSERT_TRUE(store.WriteString(kRoot, entry, "Date", "09.12.2026 10:00"));
  ASSERT_TRUE(store.WriteString(kRoot, entry, "Path", folder));
  ASSERT_TRUE(store.WriteDWord(kRoot, entry, "Done", done ? 1 : 0));
  ASSERT_TRUE(store.WriteDWord(kRoot, queue::kJobsKey, "Count", static_cast<uint32_t>(listed_)));
}

std::string QueueJobsTest::JobFileText(const std::string& folder) {
  return ReadFile(queue::JobFilePathOf(folder));
}

std::vector<std::string> QueueJobsTest::RegistryNames() {
  std::vector<std::string> names;
  auto& store = registry_.Store();
  const uint32_t count = store.ReadDWord(kRoot, queue::kJobsKey, "Count").value_or(0);
  for (uint32_t i = 0; i < count; ++i)
    names.push_back(store.ReadString(kRoot, Entry(static_cast<int>(i)), "Name").value_or("<none>"));
  return names;
}

uint32_t QueueJobsTest::RegistryDone(int index) {
  return registry_.Store().ReadDWord(kRoot, Entry(index), "Done").value_or(99);
}

}  // namespace kv_test
