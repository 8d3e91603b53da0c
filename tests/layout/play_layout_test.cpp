// The layout of maps for play, on songs made here, in every band: the rules
// a map keeps whatever the song (on screen, in time order, spacing that
// follows time, moves that follow the melody, combos, breaks, sliders as
// long as their notes).
#include "layout/play_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace onpu {
namespace {

// A melody of `count` notes, `step_beats` apart at `beat_ms`, each held for
// `held` of its step, moving by step and leap, louder on the downbeats;
// after `rest_after` notes (if any) a rest of `rest_ms`.
std::vector<LayoutNote> melody(int count, double step_beats, double beat_ms, double held, int rest_after = -1,
                               int rest_ms = 0) {
  static const int kMoves[] = {1, 2, -1, 1, 3, -2, -1, -1, 0, 2, 1, -4, 5, -1, -2, 1};
  std::vector<LayoutNote> notes;
  int key = 60;
  double time = 0.0;
  for (int i = 0; i < count; ++i) {
    if (i == rest_after) time += rest_ms;
    LayoutNote note;
    note.time_ms = static_cast<int32_t>(time);
    note.end_ms = static_cast<int32_t>(time + held * step_beats * beat_ms);
    note.key = static_cast<uint8_t>(key);
    const int beat_index = static_cast<int>(std::lround(time / beat_ms));
    note.velocity = beat_index % 4 == 0 ? 100 : 80;
    note.metric_level = std::fmod(time, beat_ms) == 0.0 ? (beat_index % 4 == 0 ? 0 : 1) : 2;
    note.measure = static_cast<uint64_t>(beat_index / 4);
    note.beat_ms = beat_ms;
    notes.push_back(note);
    time += step_beats * beat_ms;
    key = std::clamp(key + kMoves[i % 16], 48, 84);
  }
  return notes;
}

struct Song {
  const char* name;
  std::vector<LayoutNote> notes;
  bool melody_rules = true;  // false: a song for its sliders' timing only
};

// Where the cursor leaves an object: a slider's tail after an odd number of
// slides, its head after an even one.
void end_of(const PlayObject& object, double* x, double* y) {
  *x = object.x;
  *y = object.y;
  if (object.slides % 2 == 1) {
    const double dx = object.end_x - object.x;
    const double dy = object.end_y - object.y;
    const double d = std::hypot(dx, dy);
    *x += dx / d * object.length_px;
    *y += dy / d * object.length_px;
  }
}

TEST(PlayLayout, MapsOfEveryBandKeepTheRulesOfPlay) {
  const std::vector<Song> songs = {
      {"quarters at 120 BPM, held", melody(200, 1.0, 500.0, 0.95)},
      {"eighths at 140 BPM, short", melody(300, 0.5, 428.57, 0.4)},
      {"half notes with a rest of 7 s", melody(120, 2.0, 600.0, 0.9, 60, 7000)},
      {"sixteenths at 100 BPM", melody(400, 0.25, 600.0, 0.8)},
      // Sliders are timed by the timing point's own beat, however the beat
      // is felt: at 50 BPM a beat of held notes is a short slider, at 200 a
      // slow one.
      {"quarters at 50 BPM, held", melody(100, 1.0, 1200.0, 0.95), false},
      {"eighths at 200 BPM, held", melody(300, 0.5, 300.0, 0.9), false},
  };
  for (int band = 0; band < 6; ++band) {
    const LayoutStyle style = layout_style(band, band < 2 ? 3.5 : 4.0, band < 2 ? 5.0 : 8.5);
    const double radius = circle_radius(style.circle_size);
    for (const Song& song : songs) {
      // Runs of sixteenths are for the harder bands: a map of an easier one
      // never keeps them.
      if (band < 2 && song.notes.size() == 400) continue;
      SCOPED_TRACE(std::string(song.name) + ", band " + std::to_string(band));
      PlayLayout layout;
      lay_out_for_play(song.notes, style, &layout);
      ASSERT_FALSE(layout.objects.empty());
      EXPECT_TRUE(layout.objects.front().new_combo);

      int combo = 0;
      int pitch_moves = 0;
      int pitch_agree = 0;
      double snapped_px_per_beat = 0.0;  // Easy and Normal: one distance per beat of gap
      size_t next_break = 0;
      for (size_t i = 0; i < layout.objects.size(); ++i) {
        const PlayObject& object = layout.objects[i];
        const LayoutNote& note = song.notes[object.note];
        EXPECT_EQ(object.time_ms, note.time_ms);
        EXPECT_EQ(object.key, note.key);
        // On the playfield, head and tail.
        double end_x = 0.0, end_y = 0.0;
        end_of(object, &end_x, &end_y);
        for (double v : {static_cast<double>(object.x), end_x}) {
          EXPECT_TRUE(v >= 0 && v <= 512) << object.time_ms;
        }
        for (double v : {static_cast<double>(object.y), end_y}) {
          EXPECT_TRUE(v >= 0 && v <= 384) << object.time_ms;
        }
        // A slider lasts as its length says at the speed its velocity and
        // the timing point's beat give it, no faster than the band's, no
        // longer than its note is held (or, in the easier bands, than the
        // gap to the next note).
        if (object.slides > 0) {
          const double ball_px_per_ms = 140.0 * (100.0 / object.inherited_beat_length) / note.beat_ms;
          EXPECT_LE(ball_px_per_ms, style.slider_speed);
          EXPECT_NEAR(object.end_time_ms, object.time_ms + object.slides * object.length_px / ball_px_per_ms, 1e-6);
          EXPECT_GE(object.end_time_ms - object.time_ms, 0.25 * note.beat_ms - 2.0);
          EXPECT_LE(object.length_px, style.longest_span_px + 0.01);
          const double longest = std::max<double>(note.end_ms - note.time_ms, style.rhythm_slider_beats * note.beat_ms);
          EXPECT_LE(object.end_time_ms - object.time_ms, longest + 2.0);
        }
        combo = object.new_combo ? 1 : combo + 1;
        EXPECT_LE(combo, style.longest_combo);
        if (i == 0) continue;

        const PlayObject& last = layout.objects[i - 1];
        double from_x = 0.0, from_y = 0.0;
        end_of(last, &from_x, &from_y);
        const double gap_ms = object.time_ms - last.end_time_ms;
        EXPECT_GE(gap_ms, 10.0) << "at " << object.time_ms;
        const double distance = std::hypot(object.x - from_x, object.y - from_y);
        EXPECT_LE(distance, style.max_velocity * gap_ms + 2.0) << "at " << object.time_ms;
        if (style.equal_spacing && gap_ms <= 600.0 && distance >= 12.0) {
          const double px_per_beat = distance / (gap_ms / song.notes[last.note].beat_ms);
          if (snapped_px_per_beat == 0.0) snapped_px_per_beat = px_per_beat;
          EXPECT_NEAR(px_per_beat, snapped_px_per_beat, 0.02 * snapped_px_per_beat + 4.0) << "at " << object.time_ms;
        }
        const int step = object.key - last.key;
        if (step != 0 && distance >= 20.0) {
          ++pitch_moves;
          const double dy = object.y - from_y;
          if (std::fabs(dy) >= 0.39 * distance && (dy < 0) == (step > 0)) ++pitch_agree;
        }
        // A long rest has its break, after which a combo starts.
        if (gap_ms > 4000.0) {
          ASSERT_LT(next_break, layout.breaks.size()) << "no break before " << object.time_ms;
          const BreakPeriod& rest = layout.breaks[next_break++];
          EXPECT_GE(rest.start_ms, last.end_time_ms);
          EXPECT_LE(rest.end_ms, object.time_ms);
          EXPECT_GE(rest.end_ms - rest.start_ms, 650);
          EXPECT_TRUE(object.new_combo);
        }
        // Objects a beat or more apart never overlap.
        if (gap_ms >= song.notes[last.note].beat_ms) {
          EXPECT_GE(distance, 2 * radius - 10.0) << "at " << object.time_ms;
        }
      }
      EXPECT_EQ(next_break, layout.breaks.size());
      // Where notes are a beat or more apart, few circles land on an object
      // still on screen other than the one just before them: no more than
      // the easiest band's maps allow.
      if (song.notes[1].time_ms - song.notes[0].time_ms >= song.notes[0].beat_ms) {
        const double visible_ms = preempt_ms(style.approach_rate);
        int crowded = 0;
        for (size_t i = 2; i < layout.objects.size(); ++i) {
          const PlayObject& object = layout.objects[i];
          for (size_t j = i - 1; j-- > 0;) {
            const PlayObject& other = layout.objects[j];
            if (std::max<double>(other.time_ms, other.end_time_ms) < object.time_ms - visible_ms) continue;
            if (std::hypot(object.x - other.x, object.y - other.y) < 2 * radius - 6.0) {
              ++crowded;
              break;
            }
          }
        }
        EXPECT_LE(crowded, 0.03 * static_cast<double>(layout.objects.size()));
      }
      ASSERT_GT(pitch_moves, 20);
      if (song.melody_rules) {
        EXPECT_GE(static_cast<double>(pitch_agree) / pitch_moves, 0.75);
      }
    }
  }
}

TEST(PlayLayout, HeldNotesBecomeSlidersAndShortOnesCircles) {
  // Quarters held for a whole beat, then quarters held for a tenth of one.
  std::vector<LayoutNote> notes = melody(16, 1.0, 500.0, 1.0);
  for (LayoutNote& note : melody(16, 1.0, 500.0, 0.1)) {
    note.time_ms += 8000;
    note.end_ms += 8000;
    note.measure += 4;
    notes.push_back(note);
  }
  PlayLayout layout;
  // Hard, without the sliders that join two notes of a short rhythm.
  LayoutStyle style = layout_style(2, 4.0, 7.5);
  style.rhythm_slider_beats = 0.0;
  lay_out_for_play(notes, style, &layout);
  ASSERT_EQ(layout.objects.size(), notes.size());
  int sliders = 0;
  int in_a_row = 0;
  for (const PlayObject& object : layout.objects) {
    if (object.time_ms < 8000) {
      // Three quarters of a beat: the last quarter is left for the next
      // tap; after three sliders in a row one note is tapped.
      if (object.slides > 0) {
        EXPECT_EQ(object.slides, 1) << object.time_ms;
        EXPECT_DOUBLE_EQ(object.length_px, 105.0);
        ++sliders;
        EXPECT_LE(++in_a_row, 3) << object.time_ms;
      } else {
        EXPECT_EQ(in_a_row, 3) << object.time_ms;
        in_a_row = 0;
      }
    } else {
      EXPECT_EQ(object.slides, 0) << object.time_ms;
    }
  }
  EXPECT_EQ(sliders, 12);
}

TEST(PlayLayout, AccompanimentUnderANoteHeldLongerThanItsSliderComesBackAfterIt) {
  // A melody note held for 8 s over quarters in the bass, at 120 BPM.
  std::vector<LayoutNote> notes = melody(1, 16.0, 500.0, 1.0);
  notes[0].key = 84;
  for (LayoutNote bass : melody(16, 1.0, 500.0, 0.9)) {
    if (bass.time_ms == 0) continue;
    bass.key = 48;
    notes.push_back(bass);
  }
  for (int band = 0; band < 6; ++band) {
    SCOPED_TRACE("band " + std::to_string(band));
    PlayLayout layout;
    lay_out_for_play(notes, layout_style(band, 4.0, 5.0), &layout);
    ASSERT_GE(layout.objects.size(), 2u);
    const PlayObject& slider = layout.objects[0];
    ASSERT_GT(slider.slides, 0);
    // The bass comes back a beat or so after the slider, not when the
    // melody note is let go.
    EXPECT_LE(layout.objects[1].time_ms - slider.end_time_ms, 1000.0);
    EXPECT_GE(layout.objects[1].time_ms - slider.end_time_ms, 10.0);
  }
}

TEST(PlayLayout, NoNotesNoObjectsAndOneNoteOneCircle) {
  PlayLayout layout;
  lay_out_for_play({}, layout_style(0, 3.0, 4.0), &layout);
  EXPECT_TRUE(layout.objects.empty());
  lay_out_for_play(melody(1, 1.0, 500.0, 0.0), layout_style(5, 4.5, 9.7), &layout);
  ASSERT_EQ(layout.objects.size(), 1u);
  EXPECT_EQ(layout.objects[0].slides, 0);
  EXPECT_TRUE(layout.objects[0].new_combo);
}

}  // namespace
}  // namespace onpu
