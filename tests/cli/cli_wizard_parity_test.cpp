// A job made by kestrevane-cli with no options and the job the wizard makes
// when every proposal is accepted: the same scripts, encoder job files,
// JobFile and plug-ins, byte for byte.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <filesystem>
#include <map>

#include "app/shell_state.h"
#include "queue/job_file.h"
#include "tests/support/sample_dvds.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/title_page.h"

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

class CliWizardParity : public kv_test::WizardTest {
 protected:
  CliWizardParity() { app::Shell().ProgramFolder = KV_PROGRAM_FOLDER "/"; }
  ~CliWizardParity() override { app::ResetShell(); }
};

TEST_F(CliWizardParity, DefaultsMakeTheWizardsJob) {
  const std::string disc = kv_test::SampleDvdRoot() + "/pal_letterbox";
  OpenWizard();
  StartAnalysis(disc, "Letterbox");
  WaitForAnalysis();
  ASSERT_TRUE(WizardOpen());
  Click("NextButton");
  Click("NextButton");
  static_cast<wizard::TitlePage*>(Wizard()->Page(wizard::kTitlePage))->WaitForPreparation();
  ASSERT_TRUE(
      QTest::qWaitFor([this] { return Wizard()->CurrentPage() == wizard::kConfigPage; }, 120000));
  Click("NextButton");  // Finish
  SettleDeletes();
  ASSERT_FALSE(WizardOpen());
  const std::string ours = Jobs() + "/Letterbox";

  const std::string cli_jobs = dir_.File("cli");
  fs::create_directories(cli_jobs);
  QProcess cli;
  cli.start(KV_PROGRAM_FOLDER "/kestrevane-cli",
            {"new", "--name", "Letterbox", "--dest", QString::fromStdString(cli_jobs), "--dvd",
             QString::fromStdString(disc)});
  ASSERT_TRUE(cli.waitForFinished(300000));
  ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  const std::string theirs = cli_jobs + "/Letterbox";

  const auto wizard_files = SettingFiles(ours);
  ASSERT_FALSE(wizard_files.empty());
  EXPECT_EQ(SettingFiles(theirs), wizard_files);
  const auto a = queue::ReadJobFileLines(queue::JobFilePathOf(ours));
  const auto b = queue::ReadJobFileLines(queue::JobFilePathOf(theirs));
  ASSERT_TRUE(a && b);
  // The date is the minute each was made.
  EXPECT_EQ(std::tie(a->name, a->progress, a->time, a->left),
            std::tie(b->name, b->progress, b->time, b->left));
}

}  // namespace
