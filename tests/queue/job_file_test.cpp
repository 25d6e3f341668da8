#include "queue/job_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using queue::JobFileLines;
using queue::ParseJobFileText;
using queue::ValidateJobFileLines;

JobFileLines Lines(const std::string& progress, const std::string& time, const std::string& left) {
  return {"Holiday", "09/12/2026 10:00", progress, time, left};
}

TEST(JobFileReading, AcceptsCrLfAndBareLfAndSkipsBlankLinesAndLeadingBlanks) {
  const auto crlf = ParseJobFileText(".kvnj\r\n\r\nHoliday\r\nthe date\r\n1 / 3\r\n01:05\r\n02:10");
  ASSERT_TRUE(crlf);
  EXPECT_EQ(crlf->name, "Holiday");
  EXPECT_EQ(crlf->date, "the date");
  EXPECT_EQ(crlf->left, "02:10");

  const auto lf = ParseJobFileText(".kvnj\n\n\n   Holiday\n\nthe date\n1 / 3\n--\n--\n");
  ASSERT_TRUE(lf);
  EXPECT_EQ(lf->name, "Holiday");
  EXPECT_EQ(lf->time, "--");
}

TEST(JobFileReading, RefusesWrongMarkerMissingLinesAndOverlongLines) {
  EXPECT_FALSE(ParseJobFileText(".kvnJ\r\n\r\nA\r\nB\r\n0 / 1\r\n--\r\n--"));
  EXPECT_FALSE(ParseJobFileText(".kvnj\r\n\r\nA\r\nB\r\n0 / 1\r\n--"));
  EXPECT_FALSE(ParseJobFileText(""));
  const std::string long_name(256, 'x');
  EXPECT_FALSE(ParseJobFileText(".kvnj\n\n" + long_name + "\nB\n0 / 1\n--\n--"));
  EXPECT_TRUE(ParseJobFileText(".kvnj\n\n" + std::string(255, 'x') + "\nB\n0 / 1\n--\n--"));
}

TEST(JobFileValidation, ProgressMustHaveDoneWithinTotal) {
  EXPECT_TRUE(ValidateJobFileLines(Lines("0 / 3", "--", "--")));
  EXPECT_TRUE(ValidateJobFileLines(Lines("3 / 3", "01:00", "--")));
  EXPECT_FALSE(ValidateJobFileLines(Lines("0 / 0", "--", "--")));
  EXPECT_FALSE(ValidateJobFileLines(Lines("4 / 3", "--", "--")));
  EXPECT_FALSE(ValidateJobFileLines(Lines("-1 / 3", "--", "--")));
  EXPECT_FALSE(ValidateJobFileLines(Lines("3", "--", "--")));
}

TEST(JobFileValidation, TimesAreDashesOrHoursAndMinutes) {
  const auto ok = ValidateJobFileLines(Lines("1 / 3", "3:07", "120:59"));
  ASSERT_TRUE(ok);
  ASSERT_TRUE(ok->time);
  EXPECT_EQ(queue::FormatHoursMinutes(*ok->time), "03:07");
  EXPECT_EQ(queue::FormatHoursMinutes(*ok->left), "120:59");
  EXPECT_FALSE(ValidateJobFileLines(Lines("1 / 3", "3:60", "--")));
  EXPECT_FALSE(ValidateJobFileLines(Lines("1 / 3", "-1:00", "--")));
  EXPECT_FALSE(ValidateJobFileLines(Lines("1 / 3", "--", "soon")));
}

TEST(JobFileRows, PendingWithNothingEncodedShowsNoTimesAndDoneShowsNoTimeLeft) {
  auto lines = Lines("0 / 3", "00:10", "02:00");
  auto row = queue::EntryFromJobFile(lines, *ValidateJobFileLines(lines), "/jobs/Holiday");
  EXPECT_EQ(row.State, queue::JobState::Pending);
  EXPECT_EQ(queue::ProgressText(row.Progress), "0 / 3");
  EXPECT_EQ(queue::TimeText(row.Time), "--");
  EXPECT_EQ(queue::TimeText(row.Left), "--");

  lines = Lines("3 / 3", "4:5", "00:20");
  row = queue::EntryFromJobFile(lines, *ValidateJobFileLines(lines), "/jobs/Holiday");
  EXPECT_EQ(row.State, queue::JobState::Done);
  EXPECT_EQ(queue::TimeText(row.Time), "04:05");
  EXPECT_EQ(queue::TimeText(row.Left), "--");
}

TEST(JobFileWriting, WritesTheFormatByteForByteAndReadsBack) {
  kv_test::TempDir dir;
  kv_test::MakeFolders(queue::JobDataFolderOf(dir.Path()));
  queue::JobEntry entry;
  entry.Name = "Holiday";
  entry.Date = "the creation text";
  entry.Progress = queue::VolumeProgress{1, 3};
  entry.Time = queue::HoursMinutes{1, 5};
  entry.Left = queue::HoursMinutes{2, 10};
  entry.Path = dir.Path();
  ASSERT_TRUE(queue::WriteJobFile(entry));
  const std::string text = kv_test::ReadFile(dir.Path() + "/.kvnj/.kvnj");
  EXPECT_EQ(text, ".kvnj\r\n\r\nHoliday\r\nthe creation text\r\n1 / 3\r\n01:05\r\n02:10");
  const auto back = queue::ReadJobFileLines(queue::JobFilePathOf(dir.Path()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->progress, "1 / 3");

  entry.Path = dir.File("no-such-job");
  EXPECT_FALSE(queue::WriteJobFile(entry));
}

}  // namespace
