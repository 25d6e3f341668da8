// The script language: tokens, statements, calls with named arguments,
// method chains, the current clip, and the errors of bad scripts with
// their line and column. The job scripts the wizard writes, in all their
// variants, parse and run against stand-ins of the plug-in functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outside/frameserver/interpreter.h"
#include "outside/frameserver/script_syntax.h"

namespace {

using kvfs::ScriptError;
using kvfs::Value;
using kvfs::ValueType;

kvfs::InterpreterOptions NoPlugins() {
  kvfs::InterpreterOptions options;
  options.allow_plugins = false;
  return options;
}

// Runs text and gives its value.
Value Eval(const std::string& text, kvfs::Interpreter* interpreter = nullptr) {
  kvfs::Program program = kvfs::Parse(text);
  if (interpreter) return interpreter->Run(program);
  kvfs::Interpreter own(NoPlugins());
  return own.Run(program);
}

struct Fault {
  int line = 0;
  int column = 0;
  std::string message;
};

Fault FaultOf(const std::string& text) {
  try {
    kvfs::OpenScript(text, NoPlugins());
  } catch (const ScriptError& e) {
    return {e.line(), e.column(), e.what()};
  }
  ADD_FAILURE() << "no error for:\n" << text;
  return {};
}

TEST(FrameserverTokens, LiteralsCommentsAndContinuations) {
  const auto tokens = kvfs::Tokenize(
      "a = 12 # comment\r\nb = 1.5 /* block\n comment */ c = $FF\n"
      "d = \"\"\" \"quoted\" \n text\"\"\" [* nested [* inner *] *]\n"
      "e = Foo(1,\n  2)\nf = 1 + \\\n 2\ng = 3\n\\ + 4\n");
  std::vector<std::string> idents;
  std::vector<int64_t> ints;
  std::vector<std::string> strings;
  int newlines = 0;
  for (const auto& t : tokens) {
    if (t.kind == kvfs::TokenKind::Identifier) idents.push_back(t.text);
    if (t.kind == kvfs::TokenKind::Integer) ints.push_back(t.integer);
    if (t.kind == kvfs::TokenKind::String) strings.push_back(t.text);
    if (t.kind == kvfs::TokenKind::Newline) ++newlines;
  }
  EXPECT_EQ(idents, (std::vector<std::string>{"a", "b", "c", "d", "e", "Foo", "f", "g"}));
  EXPECT_EQ(ints, (std::vector<int64_t>{12, 255, 1, 2, 1, 2, 3, 4}));
  ASSERT_EQ(strings.size(), 1u);
  EXPECT_EQ(strings[0], " \"quoted\" \n text");
  // Line ends: after a; after c (the block comment runs from the b line
  // into the c line); after d's text and comment; after the call (the line
  // end inside the parentheses vanishes); after f (the trailing "\" joins
  // the lines); after g, joined with the line that starts with "\".
  EXPECT_EQ(newlines, 6);
  // Positions count from 1; the float keeps its value.
  for (const auto& t : tokens) {
    if (t.kind == kvfs::TokenKind::Float) {
      EXPECT_DOUBLE_EQ(t.number, 1.5);
      EXPECT_EQ(t.line, 2);
      EXPECT_EQ(t.column, 5);
    }
    if (t.kind == kvfs::TokenKind::Identifier && t.text == "c") {
      EXPECT_EQ(t.line, 3);
    }
  }
}

TEST(FrameserverLanguage, ValuesOperatorsAndVariables) {
  EXPECT_EQ(Eval("x = 7\ny = x * 6\ny").integer, 42);
  EXPECT_DOUBLE_EQ(Eval("1 + 0.5").number, 1.5);
  EXPECT_EQ(Eval("-(3 - 10) % 4").integer, 3);
  EXPECT_EQ(Eval("\"ab\" + \"cd\"").text, "abcd");
  EXPECT_TRUE(Eval("2 < 3 && !(1 == 2) || false").boolean);
  EXPECT_EQ(Eval("true ? 1 : 2").integer, 1);
  EXPECT_EQ(Eval("no ? 1 : 2").integer, 2);
  EXPECT_TRUE(Eval("\"Abc\" == \"aBC\"").boolean);  // names and texts compare without case
  EXPECT_EQ(Eval("Name = 5\nNAME + name").integer, 10);
  EXPECT_EQ(Eval("x = 1\nreturn x + 1\nx = 100").integer, 2);
  EXPECT_EQ(Eval("global g = 4\ng").integer, 4);
  EXPECT_EQ(Eval("\"\"\"a \"b\" c\"\"\"").text, "a \"b\" c");
  EXPECT_EQ(Eval("\xEF\xBB\xBFx = 2\r\nx").integer, 2);  // a UTF-8 byte order mark
}

TEST(FrameserverLanguage, CurrentClipAndScriptValue) {
  kvfs::Interpreter in(NoPlugins());
  // An expression statement that gives a clip becomes "last"; functions
  // whose first parameter is a clip take it when the call leaves it out.
  Value v = Eval("BlankClip(length=300)\nTrim(100, 199)", &in);
  ASSERT_EQ(v.type, ValueType::Clip);
  EXPECT_EQ(v.clip->Info().frame_count, 100);
  // A script ending in an assignment gives the current clip.
  Value w = Eval("BlankClip(length=50)\nx = 3", &in);
  ASSERT_EQ(w.type, ValueType::Clip);
  EXPECT_EQ(w.clip->Info().frame_count, 50);
  // A bare function name is a call without arguments; a method without
  // parentheses too.
  EXPECT_EQ(Eval("BlankClip.Trim(0, 9)", &in).clip->Info().frame_count, 10);
  Value chained = Eval(
      "c = BlankClip(length=300, width=720, height=576)\n"
      "c.Trim(10, 0).LanczosResize(640, 352)",
      &in);
  EXPECT_EQ(chained.clip->Info().frame_count, 290);
  EXPECT_EQ(chained.clip->Info().width, 640);
}

TEST(FrameserverLanguage, NamedArgumentsAndOverloads) {
  kvfs::Interpreter in(NoPlugins());
  Value a = Eval("BlankClip(fps=25, width=320, height=240)\nAssumeFPS(30000, 1001)", &in);
  EXPECT_EQ(a.clip->Info().fps_numerator, 30000u);
  EXPECT_EQ(a.clip->Info().fps_denominator, 1001u);
  Value b = Eval("BlankClip()\nAssumeFPS(23.976)", &in);
  EXPECT_EQ(b.clip->Info().fps_numerator, 24000u);
  EXPECT_EQ(b.clip->Info().fps_denominator, 1001u);
  Value c = Eval("BlankClip(height=240, width=320, length=5)", &in);
  EXPECT_EQ(c.clip->Info().width, 320);
  EXPECT_EQ(c.clip->Info().height, 240);
  EXPECT_EQ(c.clip->Info().frame_count, 5);
}

TEST(FrameserverErrors, SyntaxFaultsGiveTheirLineAndColumn) {
  struct Case {
    const char* text;
    int line;
    int column;
    const char* words;
  };
  const Case cases[] = {
      {"a = 1\nb = (2 + \n", 3, 1, "expected a value"},
      {"LoadPlugin(\"x.dll\")\n\nvideo = Trim(video 1, 2)\n", 3, 20, "expected ',' or ')'"},
      {"x = 1\ny = \"open text\n", 2, 5, "not closed"},
      {"x = 1\n\n\ny = \"\"\" never closed\n\n", 4, 5, "not closed"},
      {"x = 1\n/* open\n", 2, 1, "not closed"},
      {"x = 1 2\n", 1, 7, "end of the line"},
      {"x = 1\ny = 2 @ 3\n", 2, 7, "unexpected '@'"},
      {"x = 99999999999999999999\n", 1, 5, "too large"},
      {"a = 1\nb = a.\n", 2, 7, "function name"},
      {"\n\nfunction f(x) { x }\n", 3, 1, "not supported"},
      {"true = 3\n", 1, 1, "cannot be assigned"},
      {"x = 1 \\ y\n", 1, 7, "unexpected '\\'"},
      {"x = 1\n   \\ y\n", 2, 6, "end of the line"},
  };
  for (const Case& c : cases) {
    const Fault f = FaultOf(c.text);
    EXPECT_EQ(f.line, c.line) << c.text << "\n" << f.message;
    EXPECT_EQ(f.column, c.column) << c.text << "\n" << f.message;
    EXPECT_NE(f.message.find(c.words), std::string::npos) << c.text << "\n" << f.message;
  }
}

TEST(FrameserverErrors, EvaluationFaultsPointAtTheCall) {
  struct Case {
    const char* text;
    int line;
    int column;
    const char* words;
  };
  const Case cases[] = {
      {"LoadPlugin(\"qmvideo.dll\")\n\nvideo = NoSuchSource(\"x\")\n", 1, 1, "cannot be loaded"},
      {"# a comment\nv = BlankClip()\nv = Frobnicate(v)\n", 3, 5, "no function named 'Frobnicate'"},
      {"v = BlankClip()\n\nv = Trim(v, \"ten\", 20)\n", 3, 5, "'first' must be a int"},
      {"BlankClip()\nTrim(\"ten\", 20)\n", 2, 1, "'first' must be a int, not a string"},
      {"video = BlankClip()\nTrim(100, 199)\n", 2, 1, "there is no current clip to take"},
      {"v = BlankClip()\nv = LanczosResize(v, 640)\n", 2, 5, "'target_height' is missing"},
      {"v = BlankClip()\nv = Trim(v, 1, 2, pad=true)\n", 2, 5, "no parameter named 'pad'"},
      {"v = BlankClip()\nw = v + 1\n", 2, 7, "not defined for clip and int"},
      {"v = BlankClip()\nx = y\n", 2, 5, "neither a variable nor a function"},
      {"v = BlankClip(length=10)\nTrim(v, 20, 0)\n", 2, 1, "beyond the clip's last frame 9"},
      {"v = BlankClip(width=720, height=576)\nLanczosResize(v, 640, 352, 0, 72, 720, 600)\n", 2, 1,
       "does not fit"},
      {"v = BlankClip()\nx = 1 / 0\n", 2, 7, "division by zero"},
      {"v = BlankClip()\n3\n", 2, 1, "gives a int, not a clip"},
      {"x = 3\n", 1, 1, "gives no clip"},
      {"a = BlankClip(channels=0)\nDelayAudio(a, 0.5)\n", 2, 1, "has no sound"},
      {"AudioDub(BlankClip(), BlankClip(audio_rate=0))\n", 1, 1, "second clip has no sound"},
  };
  for (const Case& c : cases) {
    const Fault f = FaultOf(c.text);
    EXPECT_EQ(f.line, c.line) << c.text << "\n" << f.message;
    EXPECT_EQ(f.column, c.column) << c.text << "\n" << f.message;
    EXPECT_NE(f.message.find(c.words), std::string::npos) << c.text << "\n" << f.message;
  }
}

TEST(FrameserverErrors, RunawayScriptsStopWithAnError) {
  std::string deep = "x = ";
  for (int i = 0; i < 1000; ++i) deep += "(";
  deep += "1";
  for (int i = 0; i < 1000; ++i) deep += ")";
  EXPECT_NE(FaultOf(deep).message.find("nested too deeply"), std::string::npos);
  std::string doubling = "s = \"0123456789abcdef\"\n";
  for (int i = 0; i < 40; ++i) doubling += "s = s + s\n";
  EXPECT_NE(FaultOf(doubling).message.find("too long"), std::string::npos);
  EXPECT_NE(FaultOf("x = 9223372036854775807 + 1\n").message.find("overflows"), std::string::npos);
  // Long flat chains build deep trees: bounded as well.
  std::string sum = "x = 1";
  for (int i = 0; i < 100000; ++i) sum += " + 1";
  EXPECT_NE(FaultOf(sum).message.find("too long"), std::string::npos);
  std::string methods = "BlankClip()";
  for (int i = 0; i < 100000; ++i) methods += ".Trim(0, 0)";
  EXPECT_NE(FaultOf(methods).message.find("too long"), std::string::npos);
  // A clip built in many statements: each frame would be pulled through
  // every step.
  std::string steps = "v = BlankClip()\n";
  for (int i = 0; i < 5000; ++i) steps += "v = Trim(v, 0, 0)\n";
  const Fault deep_clip = FaultOf(steps + "v\n");
  EXPECT_NE(deep_clip.message.find("too many steps"), std::string::npos);
  EXPECT_EQ(deep_clip.line, 1 + kvfs::Interpreter::kMaxClipDepth);
}

// ---------------------------------------------------------------------
// The job scripts: every line shape the wizard's writer emits. The plug-in
// functions are stood in for by functions that check what they are given
// and pass a clip on, so each variant is parsed and run through binding.

struct Calls {
  std::vector<std::string> log;
};

void AddJobFunctionStandIns(kvfs::Interpreter& in, Calls* calls) {
  auto source = [calls](const std::string& name, const std::string& signature) {
    return kvfs::Function{
        name, kvfs::ParseSignature(signature),
        [calls, name](const kvfs::Args& a, kvfs::CallContext& c) {
          std::string entry = name;
          for (size_t i = 0; i < a.Count(); ++i) {
            if (!a.Given(i)) continue;
            const Value& v = a.At(i);
            entry += " ";
            if (v.type == ValueType::String) entry += v.text;
            if (v.type == ValueType::Int) entry += std::to_string(v.integer);
            if (v.type == ValueType::Bool) entry += v.boolean ? "true" : "false";
            if (v.type == ValueType::Float) entry += std::to_string(v.number);
            if (v.type == ValueType::Clip) entry += "clip";
          }
          calls->log.push_back(entry);
          if (a.Count() > 0 && a.At(0).type == ValueType::Clip) return a.At(0);
          // Sources give a PAL picture with sound, 1000 frames.
          kvfs::Interpreter& in = c.interpreter;
          return in.Evaluate(*kvfs::ParseExpression(
              "BlankClip(length=1000, width=720, height=576, fps=25, audio_rate=48000, "
              "channels=2)"));
        }};
  };
  in.AddFunction(source("qmVideoSource", "string path, [int idct], [bool force_film]"));
  in.AddFunction(source("Telecide", "clip clip, [int order], [int guide]"));
  in.AddFunction(source("Decimate", "clip clip, [int cycle], [int mode], [float threshold]"));
  in.AddFunction(source("FieldDeinterlace", "clip clip, [bool full]"));
  in.AddFunction(source("VobSub", "clip clip, string file"));
  for (const char* audio : {"qmAudioAC3Source", "qmAudioDTSSource", "qmAudioMPASource"})
    in.AddFunction(source(audio, "string path, [int channels]"));
  in.AddFunction(source("qmAudioLPCMSource",
                        "string path, [int samplerate], [int samplebits], [int channels]"));
  // LoadPlugin is only logged here; loading is tested with real plug-ins.
  in.AddFunction(source("LoadPlugin", "string path"));
}

struct ShapeResult {
  kvfs::ClipPtr clip;
  std::vector<std::string> calls;
};

// Scripts are written with CR LF line ends; both forms must give the same.
ShapeResult RunShape(const std::string& text) {
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ShapeResult results[2];
  for (int i = 0; i < 2; ++i) {
    kvfs::Interpreter in(NoPlugins());
    Calls calls;
    AddJobFunctionStandIns(in, &calls);
    Value v = in.Run(kvfs::Parse(i == 0 ? text : crlf));
    EXPECT_EQ(v.type, ValueType::Clip) << text;
    results[i] = {v.clip, calls.log};
  }
  EXPECT_EQ(results[0].calls, results[1].calls) << text;
  return results[1];
}

TEST(FrameserverJobScripts, VideoSourceAndFieldVariantsRun) {
  const std::string head = "LoadPlugin(\"qmvideo.dll\")\nLoadPlugin(\"Decomb.dll\")\n\n";
  const std::string source_false =
      "video = qmVideoSource(\"vts01_pgc01_a0.qmvi\", idct=4, force_film=false)\n";
  const char* field_lines[] = {
      "video = Telecide(video, order=1).Decimate(cycle=5)\n",
      "video = Telecide(video, order=0, guide=1).Decimate(mode=3, threshold=1.0)\n",
      "video = Telecide(video, order=1, guide=1).Decimate(mode=1, threshold=1.0)\n",
      "video = FieldDeinterlace(video, full=true)\n",
      "video = FieldDeinterlace(video, full=false)\n",
  };
  const char* expected[] = {
      "Decimate clip 5",
      "Decimate clip 3 1.000000",
      "Decimate clip 1 1.000000",
      "FieldDeinterlace clip true",
      "FieldDeinterlace clip false",
  };
  for (size_t i = 0; i < 5; ++i) {
    const std::string text =
        head + source_false + field_lines[i] + "video = LanczosResize(video, 640, 352)\n\nvideo\n";
    ShapeResult r = RunShape(text);
    ASSERT_TRUE(r.clip) << text;
    EXPECT_EQ(r.calls[2], "qmVideoSource vts01_pgc01_a0.qmvi 4 false");
    EXPECT_EQ(r.calls.back(), expected[i]) << text;
    EXPECT_EQ(r.clip->Info().width, 640);
    EXPECT_EQ(r.clip->Info().height, 352);
  }
  // Simple inverse telecine: force_film=true and no field lines.
  ShapeResult simple = RunShape(
      "LoadPlugin(\"qmvideo.dll\")\n\n"
      "video = qmVideoSource(\"vts02_pgc03_a1.qmvi\", idct=6, force_film=true)\n"
      "video = BilinearResize(video, 512, 384)\n\nvideo\n");
  EXPECT_EQ(simple.calls.back(), "qmVideoSource vts02_pgc03_a1.qmvi 6 true");
  EXPECT_EQ(simple.clip->Info().width, 512);
  // Complex inverse telecine followed by deinterlacing: both lines.
  ShapeResult both = RunShape(head + source_false + field_lines[1] + field_lines[3] +
                              "video = LanczosResize(video, 640, 480)\n\nvideo\n");
  EXPECT_EQ(both.calls.back(), "FieldDeinterlace clip true");
}

TEST(FrameserverJobScripts, CropSubtitleAudioJoinSpeedAndCutVariantsRun) {
  const std::string head =
      "LoadPlugin(\"qmvideo.dll\")\nLoadPlugin(\"qmaudio_ac3.dll\")\nLoadPlugin(\"VSFilter.dll\")"
      "\n\nvideo = qmVideoSource(\"vts01_pgc01_a0.qmvi\", idct=4, force_film=false)\n";
  const char* resize_lines[] = {
      "video = LanczosResize(video, 640, 352)\n",
      "video = LanczosResize(video, 640, 352, 0, 72, 720, 432)\n",
      "video = BilinearResize(video, 640, 352, 8, 72, 704, 432)\n",
  };
  const char* audio_blocks[] = {
      "",
      "audio = qmAudioAC3Source(\"vts01_pgc01_a0_at0.vfm\", channels=2)\n\n",
      "audio = qmAudioAC3Source(\"vts01_pgc01_a0_at0.vfm\", channels=6)\n"
      "audio = AmplifydB(audio, 12.000000)\n\n",
      "audio = qmAudioLPCMSource(\"vts01_pgc01_a0_at1.vfm\", samplerate=48000, samplebits=16, "
      "channels=2)\naudio = AmplifydB(audio, -3.400000)\n\n",
  };
  const char* joins[] = {"video\n", "AudioDub(video, audio)\n",
                         "AudioDub(video, DelayAudio(audio, -0.080000))\n",
                         "AudioDub(video, DelayAudio(audio, 0.200000))\n"};
  const char* tails[] = {
      "",
      "AssumeFPS(24, sync_audio=true)\n",
      "Trim(0, 332)\n",
      "Trim(333, 665)\n",
      "AssumeFPS(24, sync_audio=true)\nTrim(666, 0)\n",
  };
  const std::string start = "\nWriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\n";
  int runs = 0;
  for (const char* resize : resize_lines) {
    for (int a = 0; a < 4; ++a) {
      for (int j = 0; j < 4; ++j) {
        if ((a == 0) != (j == 0)) continue;  // a join with sound needs an audio block
        for (const char* tail : tails) {
          for (int with_start = 0; with_start < 2; ++with_start) {
            const std::string text = head + resize +
                                     "video = VobSub(video, \"vts01_pgc01_a0_st2.idx\")\n\n" +
                                     audio_blocks[a] + joins[j] + tail + (with_start ? start : "");
            ShapeResult r = RunShape(text);
            ASSERT_TRUE(r.clip) << text;
            ++runs;
            const kvfs_clip_info& info = r.clip->Info();
            EXPECT_EQ(info.width, 640) << text;
            EXPECT_EQ(info.height, 352) << text;
            EXPECT_EQ(info.audio_rate > 0, a != 0 || j == 0) << text;
            const std::string t = tail;
            const bool speed = t.find("AssumeFPS") != std::string::npos;
            EXPECT_EQ(info.fps_numerator, speed ? 24u : 25u) << text;
            int64_t frames = 1000;
            if (t.find("Trim(0, 332)") != std::string::npos) frames = 333;
            if (t.find("Trim(333, 665)") != std::string::npos) frames = 333;
            if (t.find("Trim(666, 0)") != std::string::npos) frames = 334;
            EXPECT_EQ(info.frame_count, frames) << text;
          }
        }
      }
    }
  }
  EXPECT_EQ(runs, 3 * 10 * 5 * 2);
}

}  // namespace
