// Plug-ins: a C shared object loaded by LoadPlugin registers functions with
// signatures; its clips pull frames and samples from their children, start
// once when the script is opened, and its failures become script errors.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "outside/frameserver/interpreter.h"
#include "tests/support/temp_dir.h"

namespace {

using kvfs::ClipPtr;

kvfs::InterpreterOptions Options(const std::string& folder, const std::string& plugin_folder) {
  kvfs::InterpreterOptions options;
  options.folder = folder;
  options.plugin_folder = [plugin_folder] { return plugin_folder; };
  return options;
}

ClipPtr Open(const std::string& text, const std::string& folder,
             const std::string& plugin_folder = "") {
  return kvfs::OpenScript(text, Options(folder, plugin_folder));
}

std::string Load() {
  return "LoadPlugin(\"" + std::string(KV_TEST_PLUGIN) + "\")\n";
}

void CopyFile(const std::string& from, const std::string& to) {
  kv_test::WriteFile(to, kv_test::ReadFile(from));
}

TEST(FrameserverPlugins, FunctionsFramesAndSamplesThroughTheInterface) {
  kv_test::TempDir dir("kv-fs-plugin");
  ClipPtr source = Open(Load() + "TestSource(frames=50)", dir.Path());
  ASSERT_EQ(source->Info().frame_count, 50);
  EXPECT_EQ(source->GetFrame(7)->data[0][0], 7);
  // The filter pulls frame n + offset of its child and inverts it.
  ClipPtr inverted = Open(Load() + "TestSource(50).TestInvert(offset=3)", dir.Path());
  kvfs::FrameRef f = inverted->GetFrame(10);
  EXPECT_EQ(f->data[0][0], 255 - 13);
  EXPECT_EQ(f->data[2][f->pitch[2] * 7 + 7], 255 - 13);
  // Its child is clamped at the end by the frameserver, not the plug-in.
  EXPECT_EQ(inverted->GetFrame(49)->data[0][0], 255 - 49);
  // Samples: the source's ramp, negated; silence outside the sound.
  std::vector<float> samples(10);
  inverted->GetAudio(1995, 10, samples.data());
  EXPECT_FLOAT_EQ(samples[0], -0.95f);
  EXPECT_FLOAT_EQ(samples[4], -0.99f);
  EXPECT_FLOAT_EQ(samples[5], 0.0f);
  // Plug-in clips mix with the frameserver's own functions both ways.
  ClipPtr mixed = Open(Load() +
                           "BlankClip(length=20, width=16, height=16, color=$000000).TestInvert()"
                           ".Trim(5, 0)",
                       dir.Path());
  EXPECT_EQ(mixed->Info().frame_count, 15);
  EXPECT_EQ(mixed->GetFrame(0)->data[0][0], 255 - 16);
  // Values and the plug-in's own data.
  kvfs::Interpreter in(Options(dir.Path(), ""));
  EXPECT_EQ(in.Run(kvfs::Parse(Load() + "TestSum(1, 2)")).integer, 3);
  EXPECT_EQ(in.Run(kvfs::Parse("TestSum(a=1)")).integer, 101);
  // The registration with an unknown parameter type was refused.
  EXPECT_TRUE(in.Run(kvfs::Parse("TestBadSignatureRefused()")).boolean);
  EXPECT_THROW(in.Run(kvfs::Parse("TestBroken()")), kvfs::ScriptError);
}

TEST(FrameserverPlugins, FramesInAReusedBufferStayIntactWhileHeld) {
  kv_test::TempDir dir("kv-fs-plugin");
  ClipPtr shared = Open(Load() + "TestSharedSource(10)", dir.Path());
  kvfs::FrameRef three = shared->GetFrame(3);
  const uint8_t* in_buffer = three->data[0];
  // The next frame overwrites the plug-in's buffer; the frame still held
  // has moved to memory of its own first.
  kvfs::FrameRef four = shared->GetFrame(4);
  EXPECT_EQ(three->data[0][0], 3);
  EXPECT_EQ(three->data[2][three->pitch[2] * 7 + 7], 3);
  EXPECT_NE(three->data[0], in_buffer);
  EXPECT_EQ(four->data[0][0], 4);
  // A frame nobody holds any more is not copied: the next one is served in
  // the same buffer again.
  four = kvfs::FrameRef();
  kvfs::FrameRef five = shared->GetFrame(5);
  EXPECT_EQ(five->data[0], in_buffer);
  EXPECT_EQ(five->data[0][0], 5);
  EXPECT_EQ(three->data[0][0], 3);
}

TEST(FrameserverPlugins, StartRunsOnceWhenTheScriptIsOpened) {
  kv_test::TempDir dir("kv-fs-plugin");
  const std::string mark = dir.File("mark.txt");
  const std::string text = Load() +
                           "m = TestSource(10).TestMark(\"mark.txt\")\n"
                           "AudioDub(m, TestSource(10)).Trim(0, 4).TestInvert()\n";
  kvfs::Interpreter in(Options(dir.Path(), ""));
  kvfs::Value v = in.Run(kvfs::Parse(text));
  EXPECT_TRUE(kv_test::ReadFile(mark).empty());
  kvfs::StartClips(v.clip);
  EXPECT_EQ(kv_test::ReadFile(mark), "started\n");
  // The same clip reached twice starts once.
  Open(Load() +
           "m = TestSource(10).TestMark(\"twice.txt\")\ns = AudioDub(m, "
           "TestSource(10))\nAudioDub(m, s)",
       dir.Path());
  EXPECT_EQ(kv_test::ReadFile(dir.File("twice.txt")), "started\n");
}

TEST(FrameserverPlugins, BareNamesAreFoundInTheScriptFolderThenThePluginFolder) {
  kv_test::TempDir dir("kv-fs-plugin");
  const std::string scripts = dir.File("job"), plugins = dir.File("program");
  kv_test::MakeFolders(scripts);
  kv_test::MakeFolders(plugins);
  CopyFile(KV_TEST_PLUGIN, plugins + "/TestPlugin.dll");
  const std::string text = "LoadPlugin(\"TestPlugin.dll\")\nTestSource(5)\n";
  // Not in the script's folder: from the registered plug-in folder.
  EXPECT_EQ(Open(text, scripts, plugins)->Info().frame_count, 5);
  // Names match without regard to case, as the copies were named.
  EXPECT_EQ(
      Open("LoadPlugin(\"testplugin.DLL\")\nTestSource(6)", scripts, plugins)->Info().frame_count,
      6);
  // Neither here nor registered: an error at the line that names it.
  try {
    Open("\n\nLoadPlugin(\"TestPlugin.dll\")\nTestSource(5)\n", scripts, "");
    ADD_FAILURE() << "loaded without a folder";
  } catch (const kvfs::ScriptError& e) {
    EXPECT_EQ(e.line(), 3);
    EXPECT_NE(std::string(e.what()).find("no plug-in folder is registered"), std::string::npos)
        << e.what();
  }
  // The script's folder comes first: a file there that is no plug-in is
  // taken (and refused) before the good one in the plug-in folder.
  CopyFile(KV_NOT_PLUGIN, scripts + "/TestPlugin.dll");
  try {
    Open(text, scripts, plugins);
    ADD_FAILURE() << "took the plug-in folder's copy";
  } catch (const kvfs::ScriptError& e) {
    EXPECT_EQ(e.line(), 1);
    EXPECT_NE(std::string(e.what()).find("is not a frameserver plug-in"), std::string::npos)
        << e.what();
  }
  // Something that is no shared object at all.
  kv_test::WriteFile(scripts + "/junk.dll", "not an ELF file");
  EXPECT_THROW(Open("LoadPlugin(\"junk.dll\")\nBlankClip()", scripts, plugins), kvfs::ScriptError);
}

// The encoder opens a volume's script by its bare name in the job's work
// folder, its current folder: a bare plug-in name is loaded from there, not
// looked for on the library search path.
TEST(FrameserverPlugins, BareNamesOfAScriptInTheCurrentFolder) {
  kv_test::TempDir dir("kv-fs-plugin");
  CopyFile(KV_TEST_PLUGIN, dir.File("TestPlugin.dll"));
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  int frames = -1;
  try {
    frames = static_cast<int>(
        Open("LoadPlugin(\"TestPlugin.dll\")\nTestSource(7)\n", "")->Info().frame_count);
  } catch (const kvfs::ScriptError& e) {
    ADD_FAILURE() << e.what();
  }
  EXPECT_EQ(chdir(here), 0);
  EXPECT_EQ(frames, 7);
}

TEST(FrameserverPlugins, FailuresBecomeScriptErrorsAtTheCall) {
  kv_test::TempDir dir("kv-fs-plugin");
  struct Case {
    std::string text;
    int line;
    const char* words;
  };
  const Case cases[] = {
      {Load() + "\nTestFail(\"the title is damaged\")\n", 3, "TestFail: the title is damaged"},
      {Load() + "TestSource(0)\n", 2, "frames must be positive"},
      {Load() + "TestBadClip()\n", 2, "a bad picture size"},
      {Load() + "TestSource(\"ten\")\n", 2, "'frames' must be a int"},
      {Load() + "BlankClip(pixel_type=\"RGB24\").TestInvert()\n", 2, "needs a YV12 clip"},
  };
  for (const Case& c : cases) {
    try {
      Open(c.text, dir.Path());
      ADD_FAILURE() << c.text;
    } catch (const kvfs::ScriptError& e) {
      EXPECT_EQ(e.line(), c.line) << c.text << e.what();
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
    }
  }
  // A plug-in loaded twice registers once; its functions stay usable.
  EXPECT_EQ(Open(Load() + Load() + "TestSource(3)", dir.Path())->Info().frame_count, 3);
}

}  // namespace
