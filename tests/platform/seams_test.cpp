// The seams hand out the recorder a test installs and the real service again
// afterwards; the shorthands go through them.
#include <gtest/gtest.h>

#include "platform/folder_chooser.h"
#include "platform/message_box.h"
#include "platform/power_off.h"
#include "platform/seam.h"
#include "platform/shell.h"
#include "platform/sounds.h"
#include "tests/support/recorders.h"

namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

TEST(Seams, MessageBoxesGoToTheRecorderWhileItLives) {
  platform::MessageBoxes* real = &platform::MessageBoxSeam().Current();
  {
    kv_test::MessageBoxRecorder boxes;
    boxes.Answer(MessageAnswer::Ok);
    boxes.Answer(MessageAnswer::Yes);
    boxes.Answer(MessageAnswer::No);
    EXPECT_EQ(platform::ShowMessage(nullptr, "Done.", MessageIcon::Information), MessageAnswer::Ok);
    EXPECT_TRUE(platform::AskYesNo(nullptr, "Remove the job?"));
    EXPECT_FALSE(platform::AskYesNo(nullptr, "Really?", MessageIcon::Warning));
    ASSERT_EQ(boxes.Messages().size(), 3u);
    EXPECT_EQ(boxes.Messages()[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(boxes.Messages()[1].icon, MessageIcon::Question);
    EXPECT_EQ(boxes.Messages()[1].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes.Messages()[2].icon, MessageIcon::Warning);
    EXPECT_EQ(boxes.Messages()[2].text, "Really?");
  }
  EXPECT_EQ(&platform::MessageBoxSeam().Current(), real);
}

TEST(Seams, FolderChooserShellSoundsAndPowerOffAreRestored) {
  platform::FolderChooser* chooser = &platform::FolderChooserSeam().Current();
  platform::Shell* shell = &platform::TheShell();
  platform::Sounds* sounds = &platform::TheSounds();
  platform::PowerOff* power = &platform::ThePowerOff();
  {
    kv_test::FolderChooserScript folders;
    kv_test::ShellRecorder shell_recorder;
    kv_test::SoundRecorder sound_recorder;
    kv_test::PowerOffRecorder power_recorder;

    folders.Answer("/home/u/jobs");
    EXPECT_EQ(platform::ChooseFolder({nullptr, "Select destination folder.", "", true}),
              "/home/u/jobs");
    ASSERT_EQ(folders.Requests().size(), 1u);
    EXPECT_TRUE(folders.Requests()[0].allow_new_folder);

    EXPECT_TRUE(platform::TheShell().OpenDocument("/p/Readme.txt"));
    EXPECT_EQ(shell_recorder.documents, std::vector<std::string>{"/p/Readme.txt"});
    platform::TheSounds().Play(platform::SystemSound::Error);
    EXPECT_EQ(sound_recorder.played.size(), 1u);

    power_recorder.accept = false;
    std::string error;
    EXPECT_FALSE(platform::ThePowerOff().Request(&error));
    EXPECT_EQ(power_recorder.requests, 1);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(&platform::FolderChooserSeam().Current(), chooser);
  EXPECT_EQ(&platform::TheShell(), shell);
  EXPECT_EQ(&platform::TheSounds(), sounds);
  EXPECT_EQ(&platform::ThePowerOff(), power);
}

TEST(Seams, ScopedSeamOverrideInstallsForItsScope) {
  platform::Shell* real = &platform::TheShell();
  kv_test::ShellRecorder* outer = nullptr;
  {
    kv_test::ShellRecorder recorder;  // installs itself
    outer = &recorder;
    platform::ShellSeam().Override(nullptr);
    EXPECT_EQ(&platform::TheShell(), real);
    {
      platform::ScopedSeamOverride<platform::Shell> scoped(platform::ShellSeam(), recorder);
      EXPECT_EQ(&platform::TheShell(), outer);
      platform::TheShell().StartProgram("producer", {"-j", "out01.rpjf"}, "/job");
    }
    EXPECT_EQ(&platform::TheShell(), real);
    ASSERT_EQ(recorder.programs.size(), 1u);
    EXPECT_EQ(recorder.programs[0].working_folder, "/job");
  }
  EXPECT_EQ(&platform::TheShell(), real);
}

}  // namespace
