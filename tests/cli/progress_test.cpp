// The progress a run reports to a listener (the web page's): the stages in
// order, each from 0 to 1 without going back, and the same console either way.
#include "common/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "audio/osz_builder.h"
#include "audio/soundfont_locator.h"
#include "cli/command_line.h"
#include "common/console.h"
#include "common/file_io.h"
#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using Report = std::pair<ProgressStage, double>;

// Records every report while it lives; the listener goes with it.
class Recorder {
 public:
  Recorder() {
    set_progress_listener([this](ProgressStage stage, double fraction) { reports.emplace_back(stage, fraction); });
  }
  ~Recorder() { set_progress_listener(nullptr); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  std::vector<Report> reports;
};

// A tune of `seconds` seconds at 120 BPM, a note every eighth on two keys
// (so that the piano keys take few of the MP3 stage's reports).
test::Bytes tune(int seconds) {
  test::Smf smf;
  smf.header(0, 1, 480).track();
  for (int i = 0; i < seconds * 4; ++i)
    smf.note_on(i == 0 ? 0 : 20, 0, 60 + i % 2 * 7, 100).note_off(220, 0, 60 + i % 2 * 7);
  return smf.end_of_track().bytes();
}

// A file of the test's folder as a user names it, with the platform's own
// separator (a Windows base name stops at the last backslash).
std::string path_in(const test::TempDir& dir, const std::string& name) { return join_path(dir.path(), name); }

int run(const std::vector<std::string>& args, CaptureConsole* console) {
  std::vector<std::string> all = {"onpu"};
  all.insert(all.end(), args.begin(), args.end());
  return run_command_line(all, *console);
}

// Each stage once, in the order of ProgressStage, from 0 to 1 without going back.
void expect_stages_in_order(const std::vector<Report>& reports, const std::vector<ProgressStage>& stages) {
  std::vector<ProgressStage> seen;
  for (size_t i = 0; i < reports.size(); ++i) {
    const auto [stage, fraction] = reports[i];
    const char* name = progress_stage_name(stage);
    if (seen.empty() || seen.back() != stage) {
      EXPECT_EQ(fraction, 0.0) << name << " starts at " << fraction;
      if (!seen.empty()) {
        EXPECT_EQ(reports[i - 1].second, 1.0) << progress_stage_name(seen.back()) << " ends early";
      }
      seen.push_back(stage);
    } else {
      EXPECT_GE(fraction, reports[i - 1].second) << name << " goes back at report " << i;
    }
  }
  EXPECT_EQ(seen, stages);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().second, 1.0);
}

TEST(Progress, MapsAreCountedOneByOneAfterTheFileIsReadAndTheConsoleIsUnchanged) {
  test::TempDir dir;
  test::write_file(dir.file("tune.mid"), tune(8));
  const std::vector<std::string> args = {path_in(dir, "tune.mid"), "--stars", "1,1.5", "--out", dir.path()};
  CaptureConsole plain;
  ASSERT_EQ(run(args, &plain), 0) << plain.err_text;

  CaptureConsole watched;
  Recorder recorder;
  ASSERT_EQ(run(args, &watched), 0) << watched.err_text;
  EXPECT_EQ(watched.out_text, plain.out_text);
  const std::vector<Report> expected = {{ProgressStage::kReading, 0.0},  {ProgressStage::kReading, 1.0},
                                        {ProgressStage::kMaps, 0.0},     {ProgressStage::kMaps, 1.0 / 3},
                                        {ProgressStage::kMaps, 2.0 / 3}, {ProgressStage::kMaps, 1.0}};
  EXPECT_EQ(recorder.reports, expected);
}

TEST(Progress, ADamagedFileStopsWhileItIsRead) {
  test::TempDir dir;
  test::write_file(dir.file("bad.mid"), test::Bytes{'M', 'T', 'h', 'd', 0, 0});
  CaptureConsole console;
  Recorder recorder;
  // (Without --set: a set looks for its SoundFont before it reads the file,
  // and a build without audio refuses one at once.)
  EXPECT_EQ(run({path_in(dir, "bad.mid"), "--out", dir.path()}, &console), 1);
  const std::vector<Report> expected = {{ProgressStage::kReading, 0.0}};
  EXPECT_EQ(recorder.reports, expected);
}

// Long enough for the song's MP3 to be made by two encoders at once.
TEST(Progress, ASetPassesEveryStageFromZeroToOne) {
  std::string soundfont, why;
  if (!audio::audio_supported()) GTEST_SKIP() << "this build has no audio";
  if (!audio::find_default_soundfont("", &soundfont, &why)) GTEST_SKIP() << why;
  test::TempDir dir;
  test::write_file(dir.file("tune.mid"), tune(40));
  CaptureConsole console;
  Recorder recorder;
  ASSERT_EQ(run({path_in(dir, "tune.mid"), "--set", "--out", dir.path()}, &console), 0) << console.err_text;
  expect_stages_in_order(recorder.reports, {ProgressStage::kReading, ProgressStage::kMaps, ProgressStage::kRender,
                                            ProgressStage::kMp3, ProgressStage::kArchive});
  size_t mp3_reports = 0;
  for (const Report& report : recorder.reports) mp3_reports += report.first == ProgressStage::kMp3;
  EXPECT_GT(mp3_reports, 10u) << "the song's encoding tells its progress as it goes";
}

}  // namespace
}  // namespace onpu
