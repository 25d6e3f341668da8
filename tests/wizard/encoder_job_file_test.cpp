#include "wizard/encoder_job_file.h"

#include <gtest/gtest.h>

#include <QString>
#include <QXmlStreamReader>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "wizard/job_settings.h"

namespace {

using wizard::EncodeModeKind;
using wizard::EncoderJobFileValues;
using wizard::JobSettings;

const std::string kN = "http://ns.real.com/tools/job.2.0";
const std::string kX = "http://www.w3.org/2001/XMLSchema-instance";

// Expected texts are written with LF and "@NAME@" markers; the file has CR LF.
std::string Expand(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values) {
    const std::string marker = "@" + name + "@";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
      text.replace(at, marker.size(), value);
      at += value.size();
    }
  }
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

const char* const kHeader = R"(<?xml version="1.0" encoding="UTF-8"?>
<job xmlns="http://ns.real.com/tools/job.2.0" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"  xsi:schemaLocation="http://ns.real.com/tools/job.2.0 http://ns.real.com/tools/job.2.0.xsd">
  <enableTwoPass type="bool">@TWOPASS@</enableTwoPass>
  <clipInfo>
    <entry>
      <name>Title</name>
      <value type="string">@TITLE@</value>
    </entry>
    <entry>
      <name>Author</name>
      <value type="string">@AUTHOR@</value>
    </entry>
    <entry>
      <name>Copyright</name>
      <value type="string">@COPYRIGHT@</value>
    </entry>
    <entry>
      <name>Keywords</name>
      <value type="string">@KEYWORDS@</value>
    </entry>
    <entry>
      <name>Description</name>
      <value type="string">@DESCRIPTION@</value>
    </entry>
    <entry>
      <name>Content Rating</name>
      <value type="uint">@RATING@</value>
    </entry>
  </clipInfo>
  <inputs>
    <input xsi:type="avFileInput">
      <filename type="string">@SCRIPT@</filename>
      <pluginName type="string">rn-avfile-directshow</pluginName>
      <prefilters>
        <prefilter xsi:type="deinterlacePrefilter">
          <pluginName type="string">rn-prefilter-deinterlace</pluginName>
          <enabled type="bool">false</enabled>
          <manual type="bool">true</manual>
          <deinterlace type="bool">false</deinterlace>
          <inverseTelecine type="bool">false</inverseTelecine>
        </prefilter>
      </prefilters>
    </input>
  </inputs>
  <parOutputs>
    <output>
      <destinations>
        <destination xsi:type="fileDestination">
          <name type="string">FileOutput</name>
          <filename type="string">@OUTPUT@</filename>
          <destinationRollSize type="uint">@ROLL@</destinationRollSize>
        </destination>
      </destinations>
      <mediaProfile>
        <audienceRefs>
          <audienceRef>Kestrevane</audienceRef>
        </audienceRefs>
        <audioMode type="string">music</audioMode>
        <videoMode type="string">normal</videoMode>
        <disableAudio type="bool">@NOAUDIO@</disableAudio>
        <disableVideo type="bool">false</disableVideo>
        <outputWidth type="uint">0</outputWidth>
        <outputHeight type="uint">0</outputHeight>
        <resizeQuality type="string">high</resizeQuality>
        <audioResamplingQuality type="string">high</audioResamplingQuality>
      </mediaProfile>
    </output>
  </parOutputs>
  <audiences>
    <audience>
      <name type="string">Kestrevane</name>
      <avgBitrate type="uint">@AVG@</avgBitrate>
      <maxBitrate type="uint">@MAX@</maxBitrate>
      <streams>
)";

// Curve compression; maximum B-frame run active, pattern adaptivity as a
// comment.
const char* const kVideoCurve = R"(        <stream xsi:type="videoStream">
          <pluginName type="string">rn-videocodec-realvideo</pluginName>
          <codecName type="string">rv10</codecName>
          <codecProperties type="bag">
            <encoderComplexity type="uint">@P1@</encoderComplexity>
            <firstPassComplexity type="uint">@P0@</firstPassComplexity>
            <enableRPR type="bool">true</enableRPR>
            <noisyEdgeFilter type="bool">false</noisyEdgeFilter>
            <rcEnableCurveCompression type="bool">true</rcEnableCurveCompression>
            <rcSourceFrameRate type="uint">@RATE1000@</rcSourceFrameRate>
            <rcHighBitrateReduce type="uint">0</rcHighBitrateReduce>
            <rcLowBitrateBoost type="uint">0</rcLowBitrateBoost>
            <rcPFrameRefQuant type="uint">6</rcPFrameRefQuant>
            <rcBFrameRefQuant type="uint">10</rcBFrameRefQuant>
            <maxConsecutiveBFrames type="uint">3</maxConsecutiveBFrames>
            <!-- <patternAdaptivity type="uint">2</patternAdaptivity> -->
            <inloopCutOffQuant type="uint">12</inloopCutOffQuant>
            <inloopCutOffCompatible type="bool">false</inloopCutOffCompatible>
            <inloopCutOffBUseRefQuant type="bool">false</inloopCutOffBUseRefQuant>
            <chromaModeDecision type="bool">true</chromaModeDecision>
          </codecProperties>
          <encodingType type="string">vbrBitrate</encodingType>
          <quality type="uint">100</quality>
          <maxStartupLatency type="double">4</maxStartupLatency>
          <maxFrameRate type="double">@MAXRATE@</maxFrameRate>
          <maxKeyFrameInterval type="double">10</maxKeyFrameInterval>
          <enableLossProtection type="bool">false</enableLossProtection>
        </stream>
)";

// Without curve compression, single pass: the first pass as a comment.
const char* const kVideoSinglePass = R"(        <stream xsi:type="videoStream">
          <pluginName type="string">rn-videocodec-realvideo</pluginName>
          <codecName type="string">rv10</codecName>
          <codecProperties type="bag">
            <encoderComplexity type="uint">@P1@</encoderComplexity>
            <!-- <firstPassComplexity type="uint">@P0@</firstPassComplexity> -->
            <enableRPR type="bool">true</enableRPR>
            <noisyEdgeFilter type="bool">false</noisyEdgeFilter>
            <rcEnableCurveCompression type="bool">false</rcEnableCurveCompression>
            <maxConsecutiveBFrames type="uint">3</maxConsecutiveBFrames>
            <!-- <patternAdaptivity type="uint">2</patternAdaptivity> -->
            <inloopCutOffQuant type="uint">12</inloopCutOffQuant>
            <inloopCutOffCompatible type="bool">false</inloopCutOffCompatible>
            <inloopCutOffBUseRefQuant type="bool">false</inloopCutOffBUseRefQuant>
            <chromaModeDecision type="bool">true</chromaModeDecision>
            <encodeAllFrames type="bool">true</encodeAllFrames>
          </codecProperties>
          <encodingType type="string">@TYPE@</encodingType>
          <quality type="uint">@QUALITY@</quality>
          <maxStartupLatency type="double">4</maxStartupLatency>
          <maxFrameRate type="double">@MAXRATE@</maxFrameRate>
          <maxKeyFrameInterval type="double">10</maxKeyFrameInterval>
          <enableLossProtection type="bool">false</enableLossProtection>
        </stream>
)";

const char* const kAudio = R"(        <stream xsi:type="audioStream">
          <pluginName type="string">rn-audiocodec-realaudio</pluginName>
          <codecName type="string">@CODEC@</codecName>
          <codecFlavor type="uint">@FLAVOUR@</codecFlavor>
          <encodingComplexity type="string">high</encodingComplexity>
          <streamContext type="bag">
            <presentationType type="string">audio-video</presentationType>
            <audioMode type="string">music</audioMode>
          </streamContext>
        </stream>
)";

const char* const kTrailer = R"(      </streams>
    </audience>
  </audiences>
</job>
)";

wizard::TitleFacts PalFeature(bool with_audio) {
  wizard::TitleFacts t;
  t.PalVideo = true;
  t.VideoFrameRate = 25.0f;
  t.PgcFrameCount = 135000;  // 5400 s
  t.DetectedRect = {0, 0, 720, 576};
  if (with_audio) {
    wizard::PgcAudioEntry audio;
    audio.Format = 1;
    audio.Channels = 6;
    t.AudioStreams.push_back(audio);
  }
  return t;
}

wizard::TitleFacts NtscFilm() {
  wizard::TitleFacts t;
  t.PictureHeight = 480;
  t.Widescreen = true;
  t.VideoFrameRate = 29.97f;
  t.FilmShare = 99.0f;
  t.PgcFrameCount = 43157;
  t.BorderState = 1;
  t.DetectedRect = {60, 0, 720, 360};
  wizard::PgcAudioEntry audio;
  audio.Format = 1;
  audio.Channels = 2;
  t.AudioStreams.push_back(audio);
  return t;
}

struct FileCase {
  const char* name;
  std::function<void(JobSettings&)> set_up;
  std::string script, output;
  std::string expected;
};

std::map<std::string, std::string> HeaderValues(const std::string& two_pass,
                                                const std::string& script,
                                                const std::string& output, const std::string& roll,
                                                const std::string& no_audio, const std::string& avg,
                                                const std::string& max) {
  return {
      {"TWOPASS", two_pass}, {"TITLE", ""},       {"AUTHOR", ""},        {"COPYRIGHT", "(C) 2026"},
      {"KEYWORDS", ""},      {"DESCRIPTION", ""}, {"RATING", "0"},       {"SCRIPT", script},
      {"OUTPUT", output},    {"ROLL", roll},      {"NOAUDIO", no_audio}, {"AVG", avg},
      {"MAX", max}};
}

std::vector<FileCase> Cases() {
  std::vector<FileCase> cases;

  // Constant quality at 85 %: single pass (100 %), quality type, fixed
  // ceiling, and a roll-over at the 700 MB volume size.
  cases.push_back({"ConstantQuality",
                   [](JobSettings& s) {
                     s.InitialiseForTitle(PalFeature(true));
                     s.SelectEncodeMode(EncodeModeKind::ConstantQuality);
                   },
                   "out01.avs", "../Feature.rmvb",
                   Expand(kHeader, HeaderValues("false", "out01.avs", "../Feature.rmvb", "700",
                                                "false", "100000000", "100000000")) +
                       Expand(kVideoSinglePass, {{"P1", "100"},
                                                 {"P0", "50"},
                                                 {"TYPE", "vbrQuality"},
                                                 {"QUALITY", "85"},
                                                 {"MAXRATE", "25.000"}}) +
                       Expand(kAudio, {{"CODEC", "cook"}, {"FLAVOUR", "33"}}) +
                       Expand(kTrailer, {})});

  // Fixed size, two passes, automatic codec values; volume 2 of 2. Total
  // 1400 MB over 5400 s: 2154163.47 bit/s.
  cases.push_back(
      {"FixedSizeTwoPass", [](JobSettings& s) { s.InitialiseForTitle(PalFeature(true)); },
       "out02.avs", "../Feature (2of2).rmvb",
       Expand(kHeader, HeaderValues("true", "out02.avs", "../Feature (2of2).rmvb", "0", "false",
                                    "2154163", "4308326")) +
           Expand(kVideoCurve,
                  {{"P1", "90"}, {"P0", "50"}, {"RATE1000", "25000"}, {"MAXRATE", "25.000"}}) +
           Expand(kAudio, {{"CODEC", "cook"}, {"FLAVOUR", "33"}}) + Expand(kTrailer, {})});

  // Single pass at an average 1500 Kbps (preset row 2: 70 %), not split.
  // 15 % of 1536000 = 230400 is nearest to 184 Kbps (flavour 32).
  cases.push_back({"SinglePassBitrate",
                   [](JobSettings& s) {
                     s.InitialiseForTitle(PalFeature(true));
                     s.BitrateKbps = 1500;
                     s.SplitVolumes = false;
                     s.SelectEncodeMode(EncodeModeKind::AverageBitrate);
                     s.ComplexityPreset = 2;
                     s.ApplyComplexityPreset();
                   },
                   "out01.avs", "../Feature.rmvb",
                   Expand(kHeader, HeaderValues("false", "out01.avs", "../Feature.rmvb", "0",
                                                "false", "1536000", "3072000")) +
                       Expand(kVideoSinglePass, {{"P1", "70"},
                                                 {"P0", "50"},
                                                 {"TYPE", "vbrBitrate"},
                                                 {"QUALITY", "100"},
                                                 {"MAXRATE", "25.000"}}) +
                       Expand(kAudio, {{"CODEC", "cook"}, {"FLAVOUR", "32"}}) +
                       Expand(kTrailer, {})});

  // No audio: audio disabled and no audio stream.
  cases.push_back(
      {"NoAudio", [](JobSettings& s) { s.InitialiseForTitle(PalFeature(false)); }, "out01.avs",
       "../Silent (1of2).rmvb",
       Expand(kHeader, HeaderValues("true", "out01.avs", "../Silent (1of2).rmvb", "0", "true",
                                    "2154163", "4308326")) +
           Expand(kVideoCurve,
                  {{"P1", "90"}, {"P0", "50"}, {"RATE1000", "25000"}, {"MAXRATE", "25.000"}}) +
           Expand(kTrailer, {})});

  // Average 2000 Kbps split into 650 MB files: roll-over 650.
  cases.push_back(
      {"AverageBitrateRollOver",
       [](JobSettings& s) {
         s.InitialiseForTitle(PalFeature(true));
         s.SelectVolumePreset(1);
         s.BitrateKbps = 2000;
         s.SelectEncodeMode(EncodeModeKind::AverageBitrate);
       },
       "out01.avs", "../Feature.rmvb",
       Expand(kHeader, HeaderValues("true", "out01.avs", "../Feature.rmvb", "650", "false",
                                    "2048000", "4096000")) +
           Expand(kVideoCurve,
                  {{"P1", "90"}, {"P0", "50"}, {"RATE1000", "25000"}, {"MAXRATE", "25.000"}}) +
           Expand(kAudio, {{"CODEC", "cook"}, {"FLAVOUR", "33"}}) + Expand(kTrailer, {})});

  // Surround at 64 Kbps by hand, film at 23.976 fps. The total, 244 MB over
  // 34525 / 23.976 s, is 1407917.6 bit/s.
  cases.push_back(
      {"Surround64",
       [](JobSettings& s) {
         s.InitialiseForTitle(NtscFilm());
         s.SetAudioBitrateAuto(false);
         s.MoveAudioSlider(5);
       },
       "out01.avs", "../Film.rmvb",
       Expand(kHeader, HeaderValues("true", "out01.avs", "../Film.rmvb", "0", "false", "1407917",
                                    "2815834")) +
           Expand(kVideoCurve,
                  {{"P1", "90"}, {"P0", "50"}, {"RATE1000", "23976"}, {"MAXRATE", "24.000"}}) +
           Expand(kAudio, {{"CODEC", "cook"}, {"FLAVOUR", "27"}}) + Expand(kTrailer, {})});
  return cases;
}

// First line where two texts differ, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t line = 1, start = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (a[i] != b[i]) {
      return "line " + std::to_string(line) + ": got \"" +
             a.substr(start, a.find('\n', start) - start) + "\" expected \"" +
             b.substr(start, b.find('\n', start) - start) + "\"";
    }
    if (a[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  return a.size() == b.size() ? "" : "lengths differ";
}

TEST(EncoderJobFile, WholeFilesOfTheSixCases) {
  for (const FileCase& c : Cases()) {
    JobSettings s;
    s.Copyright = "(C) 2026";
    c.set_up(s);
    const std::string text =
        wizard::FormatEncoderJobFile(wizard::EncoderJobFileValuesOf(s, c.script, c.output));
    EXPECT_EQ(text, c.expected) << c.name << ": " << FirstDifference(text, c.expected);
  }
}

TEST(EncoderJobFile, WrappersCommentOutExactlyOneBFrameProperty) {
  EncoderJobFileValues v;
  v.rcEnableCurveCompression = false;
  v.TwoPass = true;
  v.UseMaxConsecutiveBFrames = false;
  v.maxConsecutiveBFrames = 1;
  v.patternAdaptivity = 3;
  const std::string text = wizard::FormatEncoderJobFile(v);
  EXPECT_NE(text.find("\r\n            <!-- <maxConsecutiveBFrames type=\"uint\">1"
                      "</maxConsecutiveBFrames> -->\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\n            <patternAdaptivity type=\"uint\">3</patternAdaptivity>\r\n"),
            std::string::npos);
  // Two passes without curve compression: the first pass stays active.
  EXPECT_NE(text.find("\r\n            <firstPassComplexity type=\"uint\">50"
                      "</firstPassComplexity>\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("<rcEnableCurveCompression type=\"bool\">false"), std::string::npos);
}

TEST(EncoderJobFile, FrameRatesInThousandthsAndWholeFrames) {
  struct Case {
    float rate;
    const char* thousandths;
    const char* max;
  };
  const Case cases[] = {{29.97f, "29970", "30.000"},
                        {25.0f, "25000", "25.000"},
                        {23.976f, "23976", "24.000"},
                        {24.0f, "24000", "24.000"},
                        {30000.0f / 1001.0f, "29970", "30.000"}};
  for (const Case& c : cases) {
    EncoderJobFileValues v;
    v.FrameRate = c.rate;
    const std::string text = wizard::FormatEncoderJobFile(v);
    EXPECT_NE(text.find(std::string("<rcSourceFrameRate type=\"uint\">") + c.thousandths + "<"),
              std::string::npos)
        << c.rate;
    EXPECT_NE(text.find(std::string("<maxFrameRate type=\"double\">") + c.max + "<"),
              std::string::npos)
        << c.rate;
  }
}

TEST(EncoderJobFile, ClipTextsAreWrittenAsTheyAre) {
  EncoderJobFileValues v;
  v.Title = "Summer 2026";
  v.Author = "A. N. Other";
  v.Copyright = "(C) 2026 Nobody";
  v.Keywords = "sea; sun, sand";
  v.Description = "Two weeks\tby the sea";
  v.Rating = 6;
  const std::string text = wizard::FormatEncoderJobFile(v);
  EXPECT_NE(
      text.find("      <name>Title</name>\r\n      <value type=\"string\">Summer 2026</value>"),
      std::string::npos);
  EXPECT_NE(text.find("<value type=\"string\">A. N. Other</value>"), std::string::npos);
  EXPECT_NE(text.find("<value type=\"string\">(C) 2026 Nobody</value>"), std::string::npos);
  EXPECT_NE(text.find("<value type=\"string\">sea; sun, sand</value>"), std::string::npos);
  EXPECT_NE(text.find("<value type=\"string\">Two weeks\tby the sea</value>"), std::string::npos);
  EXPECT_NE(text.find("<name>Content Rating</name>\r\n      <value type=\"uint\">6</value>"),
            std::string::npos);
}

TEST(EncoderJobFile, VolumesDifferOnlyInScriptAndOutput) {
  JobSettings s;
  s.InitialiseForTitle(PalFeature(true));
  std::string one = wizard::FormatEncoderJobFile(
      wizard::EncoderJobFileValuesOf(s, "out01.avs", "../Job (1of2).rmvb"));
  std::string two = wizard::FormatEncoderJobFile(
      wizard::EncoderJobFileValuesOf(s, "out02.avs", "../Job (2of2).rmvb"));
  ASSERT_NE(one, two);
  for (auto* text : {&one, &two}) {
    for (const char* name :
         {"out01.avs", "out02.avs", "../Job (1of2).rmvb", "../Job (2of2).rmvb"}) {
      const size_t at = text->find(name);
      if (at != std::string::npos) text->replace(at, std::string(name).size(), "X");
    }
  }
  EXPECT_EQ(one, two);
}

// What an XML reader makes of a file: every element's namespace and its
// leaf texts by path ("job/audiences/audience/avgBitrate").
struct XmlReading {
  bool ok = false;
  std::string error;
  std::string root_namespace;
  std::string schema_location;
  std::vector<std::string> foreign_elements;  // not in the job namespace
  std::multimap<std::string, std::string> leaves;
  std::vector<std::string> stream_types;  // xsi:type of each stream
  std::vector<std::string> comments;
};

XmlReading Read(const std::string& text) {
  XmlReading r;
  QXmlStreamReader xml(QByteArray::fromStdString(text));
  std::vector<std::string> path;
  std::string characters;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement: {
        const std::string ns = xml.namespaceUri().toString().toStdString();
        const std::string name = xml.name().toString().toStdString();
        if (path.empty()) {
          r.root_namespace = ns;
          r.schema_location = xml.attributes()
                                  .value(QString::fromStdString(kX), "schemaLocation")
                                  .toString()
                                  .toStdString();
        }
        if (ns != kN) r.foreign_elements.push_back(name);
        if (name == "stream") {
          r.stream_types.push_back(
              xml.attributes().value(QString::fromStdString(kX), "type").toString().toStdString());
        }
        path.push_back(name);
        characters.clear();
        break;
      }
      case QXmlStreamReader::Characters:
        characters += xml.text().toString().toStdString();
        break;
      case QXmlStreamReader::EndElement: {
        std::string joined;
        for (const auto& part : path) joined += (joined.empty() ? "" : "/") + part;
        if (characters.find_first_not_of(" \r\n") != std::string::npos || characters.empty()) {
          r.leaves.emplace(joined, characters);
        }
        characters.clear();
        path.pop_back();
        break;
      }
      case QXmlStreamReader::Comment:
        r.comments.push_back(xml.text().toString().toStdString());
        break;
      default:
        break;
    }
  }
  r.ok = !xml.hasError();
  r.error = xml.errorString().toStdString();
  return r;
}

std::string Leaf(const XmlReading& r, const std::string& path) {
  const auto it = r.leaves.find(path);
  return it == r.leaves.end() ? "(missing)" : it->second;
}

const std::string kProps = "job/audiences/audience/streams/stream/codecProperties/";

TEST(EncoderJobFileXml, TwoPassFixedSizeReadsBackInTheJobNamespace) {
  JobSettings s;
  s.Title = "Holiday";
  s.InitialiseForTitle(PalFeature(true));
  const XmlReading r = Read(
      wizard::FormatEncoderJobFile(wizard::EncoderJobFileValuesOf(s, "out01.avs", "../H.rmvb")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.root_namespace, kN);
  EXPECT_EQ(r.schema_location, kN + " " + kN + ".xsd");
  EXPECT_TRUE(r.foreign_elements.empty());
  EXPECT_EQ(Leaf(r, "job/enableTwoPass"), "true");
  EXPECT_EQ(Leaf(r, "job/clipInfo/entry/value"), "Holiday");
  EXPECT_EQ(r.leaves.count("job/clipInfo/entry/value"), 6u);
  EXPECT_EQ(Leaf(r, "job/inputs/input/filename"), "out01.avs");
  EXPECT_EQ(Leaf(r, "job/parOutputs/output/destinations/destination/filename"), "../H.rmvb");
  EXPECT_EQ(Leaf(r, "job/parOutputs/output/destinations/destination/destinationRollSize"), "0");
  EXPECT_EQ(Leaf(r, "job/parOutputs/output/mediaProfile/audienceRefs/audienceRef"), "Kestrevane");
  EXPECT_EQ(Leaf(r, "job/parOutputs/output/mediaProfile/disableAudio"), "false");
  EXPECT_EQ(Leaf(r, "job/audiences/audience/name"), "Kestrevane");
  EXPECT_EQ(Leaf(r, "job/audiences/audience/avgBitrate"), "2154163");
  EXPECT_EQ(Leaf(r, "job/audiences/audience/maxBitrate"), "4308326");
  EXPECT_EQ(r.stream_types, (std::vector<std::string>{"videoStream", "audioStream"}));
  EXPECT_EQ(Leaf(r, kProps + "encoderComplexity"), "90");
  EXPECT_EQ(Leaf(r, kProps + "firstPassComplexity"), "50");
  EXPECT_EQ(Leaf(r, kProps + "rcEnableCurveCompression"), "true");
  EXPECT_EQ(Leaf(r, kProps + "maxConsecutiveBFrames"), "3");
  EXPECT_EQ(r.leaves.count(kProps + "patternAdaptivity"), 0u);
  EXPECT_EQ(r.comments,
            (std::vector<std::string>{" <patternAdaptivity type=\"uint\">2</patternAdaptivity> "}));
  EXPECT_EQ(Leaf(r, "job/audiences/audience/streams/stream/codecName"), "rv10");
  EXPECT_EQ(r.leaves.count("job/audiences/audience/streams/stream/codecName"), 2u);
  EXPECT_EQ(Leaf(r, "job/audiences/audience/streams/stream/codecFlavor"), "33");
}

TEST(EncoderJobFileXml, ConstantQualityWithoutAudioReadsBack) {
  JobSettings s;
  s.InitialiseForTitle(PalFeature(false));
  s.QualityPercent = 60;
  s.SelectEncodeMode(EncodeModeKind::ConstantQuality);
  const XmlReading r = Read(
      wizard::FormatEncoderJobFile(wizard::EncoderJobFileValuesOf(s, "out01.avs", "../Q.rmvb")));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.foreign_elements.empty());
  EXPECT_EQ(Leaf(r, "job/enableTwoPass"), "false");
  EXPECT_EQ(Leaf(r, "job/parOutputs/output/mediaProfile/disableAudio"), "true");
  EXPECT_EQ(Leaf(r, "job/parOutputs/output/destinations/destination/destinationRollSize"), "700");
  EXPECT_EQ(Leaf(r, "job/audiences/audience/avgBitrate"), "100000000");
  EXPECT_EQ(r.stream_types, (std::vector<std::string>{"videoStream"}));
  EXPECT_EQ(Leaf(r, "job/audiences/audience/streams/stream/encodingType"), "vbrQuality");
  EXPECT_EQ(Leaf(r, "job/audiences/audience/streams/stream/quality"), "60");
  EXPECT_EQ(r.leaves.count(kProps + "firstPassComplexity"), 0u);
  EXPECT_EQ(Leaf(r, kProps + "encodeAllFrames"), "true");
  ASSERT_EQ(r.comments.size(), 2u);
  // The commented elements keep their values and are well-formed themselves.
  for (const std::string& comment : r.comments) {
    const XmlReading inner = Read(comment);
    EXPECT_TRUE(inner.ok) << comment;
    EXPECT_EQ(inner.leaves.size(), 1u) << comment;
  }
  EXPECT_EQ(r.comments[0], " <firstPassComplexity type=\"uint\">50</firstPassComplexity> ");
}

TEST(EncoderJobFileWriting, FileHoldsTheTextWithCrLfLineEnds) {
  kv_test::TempDir dir;
  JobSettings s;
  s.InitialiseForTitle(NtscFilm());
  const EncoderJobFileValues v = wizard::EncoderJobFileValuesOf(s, "out01.avs", "../Film.rmvb");
  const std::string path = dir.File("out01.rpjf");
  ASSERT_TRUE(wizard::WriteEncoderJobFile(path, v));
  const std::string bytes = kv_test::ReadFile(path);
  EXPECT_EQ(bytes, wizard::FormatEncoderJobFile(v));
  size_t lines = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ++lines;
      ASSERT_GT(i, 0u);
      EXPECT_EQ(bytes[i - 1], '\r') << "at byte " << i;
    } else if (bytes[i] == '\r') {
      ASSERT_LT(i + 1, bytes.size());
      EXPECT_EQ(bytes[i + 1], '\n');
    }
  }
  // Header 74, template A 28, audio 10, trailer 4.
  EXPECT_EQ(lines, 116u);
  EXPECT_EQ(bytes.substr(bytes.size() - 8), "</job>\r\n");

  // Rewriting replaces the old text.
  EncoderJobFileValues silent = v;
  silent.HasAudio = false;
  ASSERT_TRUE(wizard::WriteEncoderJobFile(path, silent));
  EXPECT_EQ(kv_test::ReadFile(path), wizard::FormatEncoderJobFile(silent));
}

TEST(EncoderJobFileWriting, UncreatableFileFails) {
  kv_test::TempDir dir;
  EncoderJobFileValues v;
  EXPECT_FALSE(wizard::WriteEncoderJobFile(dir.File("missing/out01.rpjf"), v));
  kv_test::MakeFolders(dir.File("folder"));
  EXPECT_FALSE(wizard::WriteEncoderJobFile(dir.File("folder"), v));
}

}  // namespace
