#include "beatmap/beatmap_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "beatmap/hit_object_writer.h"
#include "common/console.h"

namespace onpu {
namespace {

// "<key>:<value>\n" with the value in tenths written as a decimal.
void append_setting(TextBuffer& out, const char* key, int tenths) {
  out.append(key);
  out.append(tenths % 10 == 0 ? format(":%d\n", tenths / 10) : format(":%d.%d\n", tenths / 10, tenths % 10));
}

// One header value on its line: a control character (a file name may hold a
// line feed) becomes a space.
std::string on_one_line(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return line;
}

}  // namespace

void write_beatmap_header(TextBuffer& out, std::string_view base_name, std::string_view version_name,
                          const TempoMap& tempo_map, const BeatmapDifficulty& difficulty, const PlayLayout* play,
                          const std::vector<TimingLine>* timing, const PlayHeader* set_header) {
  out.append("\xEF\xBB\xBF");
  out.append(
      "osu file format v14\n\n"
      "[General]\n"
      "AudioFilename: ");
  out.append(base_name);
  out.append(
      ".mp3\n"
      "AudioLeadIn: 0\n");
  out.append(format("PreviewTime: %d\n", set_header ? set_header->preview_ms : -1));
  out.append(
      "Countdown: 0\n"
      "SampleSet: Normal\n"
      "StackLeniency: 0\n"
      "Mode: 0\n"
      "LetterboxInBreaks: 0\n"
      "WidescreenStoryboard: 0\n\n"
      "[Editor]\n"
      "DistanceSpacing: 1\n"
      "BeatDivisor: 4\n"
      "GridSize: 32\n"
      "TimelineZoom: 1\n\n"
      "[Metadata]\n"
      "Title:");
  const std::string title = set_header ? on_one_line(set_header->title) : std::string(base_name);
  const std::string artist = set_header ? on_one_line(set_header->artist) : std::string("Unknown");
  out.append(title);
  out.append("\nTitleUnicode:");
  out.append(title);
  out.append("\nArtist:");
  out.append(artist);
  out.append("\nArtistUnicode:");
  out.append(artist);
  out.append(
      "\nCreator:MIDI Converter\n"
      "Version:");
  out.append(version_name);
  out.append("\nSource:MIDI\nTags:");
  out.append(set_header ? on_one_line(set_header->tags) : std::string("midi converted"));
  out.append(
      "\n"
      "BeatmapID:0\n"
      "BeatmapSetID:-1\n\n"
      "[Difficulty]\n");
  append_setting(out, "HPDrainRate", difficulty.hp_drain_rate_tenths);
  append_setting(out, "CircleSize", difficulty.circle_size_tenths);
  append_setting(out, "OverallDifficulty", difficulty.overall_difficulty_tenths);
  append_setting(out, "ApproachRate", difficulty.approach_rate_tenths);
  out.append(
      "SliderMultiplier:1.4\n"
      "SliderTickRate:1\n\n"
      "[Events]\n"
      "//Background and Video events\n");
  if (set_header && !set_header->background.empty()) {
    out.append("0,0,\"" + on_one_line(set_header->background) + "\",0,0\n");
  }
  out.append("//Break Periods\n");
  if (play) {
    for (const BreakPeriod& period : play->breaks) out.append(format("2,%d,%d\n", period.start_ms, period.end_ms));
  }
  out.append(
      "//Storyboard Layer 0 (Background)\n"
      "//Storyboard Layer 1 (Fail)\n"
      "//Storyboard Layer 2 (Pass)\n"
      "//Storyboard Layer 3 (Foreground)\n"
      "//Storyboard Layer 4 (Overlay)\n"
      "//Storyboard Sound Samples\n\n"
      "[TimingPoints]\n");
  std::vector<TimingLine> song_lines;
  if (!timing) song_lines = song_timing_lines(tempo_map);
  const std::vector<TimingLine>& lines = timing ? *timing : song_lines;
  // The sliders' volume and velocity points go among the timing points in
  // time order, after a timing point of the same time (which they override).
  struct SliderPoint {
    int32_t time_ms;
    int32_t inherited_beat_length;
    int volume;
  };
  std::vector<SliderPoint> points;
  if (play) {
    for (const PlayObject& object : play->objects) {
      if (object.slides == 0) continue;
      points.push_back(SliderPoint{object.time_ms, object.inherited_beat_length, sample_volume(object.velocity)});
      points.push_back(
          SliderPoint{object.time_ms + kSliderBodyVolumeDelayMs, object.inherited_beat_length, kSliderBodyVolume});
    }
  }
  size_t next_point = 0;
  int32_t meter = 4;
  auto slider_points_before = [&](int64_t time_ms) {
    for (; next_point < points.size() && points[next_point].time_ms < time_ms; ++next_point) {
      const SliderPoint& point = points[next_point];
      out.append(format("%d,-%d,%d,1,0,%d,0,0\n", point.time_ms, point.inherited_beat_length, meter, point.volume));
    }
  };
  for (const TimingLine& line : lines) {
    slider_points_before(line.time_ms);
    meter = line.meter;
    out.append(timing_line_text(line));
  }
  slider_points_before(INT64_MAX);
  out.append(
      "\n"
      "[Colours]\n"
      "Combo1 : 255,192,0\n"
      "Combo2 : 0,202,0\n"
      "Combo3 : 18,124,255\n"
      "Combo4 : 242,24,57\n"
      "Combo5 : 128,0,128\n"
      "Combo6 : 0,255,255\n"
      "Combo7 : 255,128,0\n"
      "Combo8 : 255,105,180\n\n"
      "[HitObjects]\n");
}

BeatLengths::BeatLengths(const TempoMap& tempo_map) : BeatLengths(song_timing_lines(tempo_map)) {}

BeatLengths::BeatLengths(const std::vector<TimingLine>& lines) {
  for (const TimingLine& line : lines) {
    // Of two timing points in one millisecond the game keeps the first.
    if (!starts_ms_.empty() && starts_ms_.back() == line.time_ms) continue;
    starts_ms_.push_back(line.time_ms);
    beat_ms_.push_back(std::strtod(format("%.6f", line.beat_length_ms).c_str(), nullptr));
  }
}

double BeatLengths::at(int32_t time_ms) const {
  if (beat_ms_.empty()) return 500.0;
  const auto after = std::upper_bound(starts_ms_.begin(), starts_ms_.end(), time_ms);
  return after == starts_ms_.begin() ? beat_ms_.front() : beat_ms_[static_cast<size_t>(after - starts_ms_.begin()) - 1];
}

}  // namespace onpu
