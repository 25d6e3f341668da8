// kestrevane-cli against the real windows. A job made with no options is the
// job the wizard makes when every proposal is accepted: the same scripts,
// encoder job files, JobFile and plug-ins, byte for byte; and `encode` makes
// the volumes the queue window's Encode makes of it.
#include <gtest/gtest.h>

#include <QProcess>
#include <filesystem>
#include <map>

#include "queue/job_file.h"
#include "tests/road/road_fixture.h"
#include "tests/support/sample_dvds.h"

namespace {

namespace fs = std::filesystem;

// The files of a job's work folder that the job's settings decide, by name.
std::map<std::string, std::string> SettingFiles(const std::string& job) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(job + "/.kvnj")) {
    const std::string name = entry.path().filename().string();
    const std::string ext = entry.path().extension().string();
    if (ext == ".avs" || ext == ".rpjf" || ext == ".dll")
      files[name] = kv_test::ReadFile(entry.path().string());
  }
  return files;
}

// Runs kestrevane-cli to its end; its exit status, or -1.
int RunCli(const QStringList& arguments, std::string* errors) {
  QProcess cli;
  cli.start(KV_PROGRAM_FOLDER "/kestrevane-cli", arguments);
  if (!cli.waitForFinished(-1)) return -1;
  *errors = cli.readAllStandardError().toStdString();
  return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

using CliWizardParity = kv_test::RoadTest;

TEST_F(CliWizardParity, DefaultsMakeTheWizardsJobAndEncodeItsVolumes) {
  const std::string disc = kv_test::SampleDvdRoot() + "/pal_letterbox";
  NewJob();
  Analyse("pal_letterbox", "Letterbox");
  ChooseTitle(1, 1);
  const Finished ours = Finish();
  ASSERT_FALSE(HasFailure());

  const auto wizard_files = SettingFiles(ours.folder);
  ASSERT_FALSE(wizard_files.empty());
  const auto a = queue::ReadJobFileLines(queue::JobFilePathOf(ours.folder));
  ASSERT_TRUE(a);
  // Encoded before the terminal runs: its start-up checks and clean-up
  // install and remove the frameserver the window's encoder serves with.
  EncodeRow(0);

  // The terminal's twin, in a folder of its own.
  const std::string cli_jobs = dir_.File("cli");
  fs::create_directories(cli_jobs);
  std::string errors;
  ASSERT_EQ(RunCli({"new", "--name", "Letterbox", "--dest", QString::fromStdString(cli_jobs),
                    "--dvd", QString::fromStdString(disc)},
                   &errors),
            0)
      << errors;
  const std::string theirs = cli_jobs + "/Letterbox";
  EXPECT_EQ(SettingFiles(theirs), wizard_files);
  const auto b = queue::ReadJobFileLines(queue::JobFilePathOf(theirs));
  ASSERT_TRUE(b);
  // The date is the moment each was made.
  EXPECT_EQ(std::tie(a->name, a->progress, a->time, a->left),
            std::tie(b->name, b->progress, b->time, b->left));

  ASSERT_EQ(RunCli({"encode", QString::fromStdString(theirs)}, &errors), 0) << errors;
  const std::vector<std::string> volumes = FilesIn(ours.folder);
  ASSERT_FALSE(volumes.empty());
  EXPECT_EQ(FilesIn(theirs), volumes);
  for (const std::string& volume : volumes) {
    EXPECT_EQ(kv_test::ReadFile(theirs + "/" + volume),
              kv_test::ReadFile(ours.folder + "/" + volume))
        << volume;
  }
}

}  // namespace
