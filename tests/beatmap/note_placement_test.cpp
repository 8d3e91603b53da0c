#include "beatmap/note_placement.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/harness.h"

namespace onpu {
namespace {

using test::Mode;
using test::Smf;

const PlacementContext kCircle{false, false, 0};
const PlacementContext kVertical{true, false, 8000};
const PlacementContext kHorizontal{true, true, 8000};

const Measure kFirstMeasure{1, 0, 2000, 120.0, 4};
const Measure kSecondMeasure{2, 2000, 4000, 120.0, 4};

// The debug lines of the slider modes in a console text, in their order.
std::string debug_lines(const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  std::string found;
  while (std::getline(lines, line)) {
    if (line.rfind("sliderモード", 0) == 0) found += line + "\n";
  }
  return found;
}

TEST(NotePlacement, CircleModeTakesXFromTheKeyAndYFromTheChannel) {
  Placement p = place_note(kCircle, 1500, nullptr, 0, 60, 100);
  EXPECT_EQ(p.object.x, 243);
  EXPECT_EQ(p.object.y, 50);
  EXPECT_EQ(p.object.time, 1500);
  EXPECT_EQ(p.object.note, 60);
  EXPECT_EQ(p.object.velocity, 100);
  EXPECT_EQ(describe_placement(p, 0), "");
}

TEST(NotePlacement, CircleModeCornersOfThePlayfield) {
  Placement low = place_note(kCircle, 0, nullptr, 15, 0, 100);
  EXPECT_EQ(low.object.x, 30);
  EXPECT_EQ(low.object.y, 334);
  Placement high = place_note(kCircle, 0, nullptr, 9, 127, 100);
  EXPECT_EQ(high.object.x, 482);
  EXPECT_EQ(high.object.y, 220);
}

TEST(NotePlacement, SliderVerticalQuarterIntoTheMeasure) {
  Placement p = place_note(kVertical, 500, &kFirstMeasure, 0, 60, 100);
  EXPECT_EQ(p.object.x, 243);
  EXPECT_EQ(p.object.y, 111);
  EXPECT_EQ(describe_placement(p, 8000),
            "sliderモード(小節内): note=60, time=500, measure=0-2000, base_y=50, final_y=111\n");
}

TEST(NotePlacement, SliderHorizontalQuarterIntoTheMeasure) {
  Placement p = place_note(kHorizontal, 500, &kFirstMeasure, 0, 60, 100);
  EXPECT_EQ(p.object.x, 143);
  EXPECT_EQ(p.object.y, 199);
  EXPECT_EQ(describe_placement(p, 8000),
            "sliderモード(小節内): note=60, time=500, measure=0-2000, base_y=50, final_y=199\n");
}

TEST(NotePlacement, NoteAtAMeasuresStartIsAtTheTopOrLeftEdge) {
  EXPECT_EQ(place_note(kVertical, 2000, &kSecondMeasure, 0, 60, 100).object.y, 30);
  EXPECT_EQ(place_note(kHorizontal, 2000, &kSecondMeasure, 0, 60, 100).object.x, 30);
}

TEST(NotePlacement, LastMillisecondOfAMeasureStaysInsideTheEdge) {
  EXPECT_EQ(place_note(kVertical, 1999, &kFirstMeasure, 0, 60, 100).object.y, 353);
  EXPECT_EQ(place_note(kHorizontal, 1999, &kFirstMeasure, 0, 60, 100).object.x, 481);
}

TEST(NotePlacement, KeyByteAbove127IsPlacedAs127ButKept) {
  Placement circle = place_note(kCircle, 0, nullptr, 0, 200, 100);
  EXPECT_EQ(circle.object.x, 482);
  EXPECT_EQ(circle.object.note, 200);
  Placement horizontal = place_note(kHorizontal, 500, &kFirstMeasure, 0, 200, 100);
  EXPECT_EQ(horizontal.object.y, 50);
  EXPECT_EQ(describe_placement(horizontal, 8000),
            "sliderモード(小節内): note=200, time=500, measure=0-2000, base_y=50, final_y=50\n");
}

TEST(NotePlacement, SliderHorizontalPutsLowKeysAtTheBottom) {
  EXPECT_EQ(place_note(kHorizontal, 0, &kFirstMeasure, 0, 0, 100).object.y, 334);
  EXPECT_EQ(place_note(kHorizontal, 0, &kFirstMeasure, 0, 127, 100).object.y, 50);
}

TEST(NotePlacement, ChannelFifteenIsTheLowestRow) {
  EXPECT_EQ(place_note(kCircle, 0, nullptr, 15, 60, 100).object.y, 334);
  Placement vertical = place_note(kVertical, 0, &kFirstMeasure, 15, 60, 100);
  EXPECT_EQ(describe_placement(vertical, 8000),
            "sliderモード(小節内): note=60, time=0, measure=0-2000, base_y=334, final_y=30\n");
}

TEST(NotePlacement, VelocityBelow31MakesNoHitObject) {
  test::Converted c = test::convert_bytes(Smf()
                                              .header(0, 1, 480)
                                              .track()
                                              .note_on(0, 0, 61, 30)
                                              .note_on(480, 0, 62, 31)
                                              .note_on(480, 0, 63, 0)
                                              .end_of_track()
                                              .bytes(),
                                          Mode::kCircle);
  EXPECT_EQ(test::hit_object_lines(c.osu), "250,50,500,5,0,0:0:0:24:piano/62.mp3\n");
  EXPECT_EQ(c.result.note_count, 1);
}

TEST(NotePlacement, ExtremeKeysAreWrittenWithTheirOwnSampleNames) {
  test::Converted c = test::convert_bytes(Smf()
                                              .header(0, 1, 480)
                                              .track()
                                              .note_on(0, 0, 0, 100)
                                              .note_on(480, 0, 127, 100)
                                              .note_on(480, 0, 200, 100)
                                              .end_of_track()
                                              .bytes(),
                                          Mode::kCircle);
  EXPECT_EQ(test::hit_object_lines(c.osu),
            "30,50,0,5,0,0:0:0:78:piano/0.mp3\n"
            "482,50,500,1,0,0:0:0:78:piano/127.mp3\n"
            "482,50,1000,1,0,0:0:0:78:piano/200.mp3\n");
}

TEST(NotePlacement, NoteAtTheGridsEndTakesTheGlobalPlacementInBothSliderModes) {
  // 3840 ticks are 4000 ms: the two 2000 ms measures end exactly there.
  const test::Bytes midi = Smf().header(0, 1, 480).track().note_on(3840, 3, 60, 100).end_of_track().bytes();
  for (Mode mode : {Mode::kVertical, Mode::kHorizontal}) {
    test::Converted c = test::convert_bytes(midi, mode);
    EXPECT_EQ(test::hit_object_lines(c.osu), "243,354,4000,5,0,0:0:0:78:piano/60.mp3\n");
    EXPECT_EQ(debug_lines(c.out), "sliderモード(グローバル): time=4000, max_time=4000, progress=1.000, final_y=354\n");
  }
}

TEST(NotePlacement, NotesAfterMeasureThousandTakeTheGlobalPlacement) {
  // Measure 1000 runs from 1998000 to 2000000 ms; the song lasts 4000000 ms.
  const test::Bytes midi = Smf()
                               .header(0, 1, 480)
                               .track()
                               .note_on(1918560, 0, 60, 100)  // 1998500 ms
                               .note_on(1440, 0, 60, 100)     // 2000000 ms
                               .note_on(960000, 0, 60, 100)   // 3000000 ms
                               .end_of_track(960000)          // 4000000 ms
                               .bytes();
  test::Converted vertical = test::convert_bytes(midi, Mode::kVertical);
  EXPECT_EQ(test::hit_object_lines(vertical.osu),
            "243,111,1998500,5,0,0:0:0:78:piano/60.mp3\n"
            "243,192,2000000,1,0,0:0:0:78:piano/60.mp3\n"
            "243,273,3000000,1,0,0:0:0:78:piano/60.mp3\n");
  test::Converted horizontal = test::convert_bytes(midi, Mode::kHorizontal);
  EXPECT_EQ(test::hit_object_lines(horizontal.osu),
            "143,199,1998500,5,0,0:0:0:78:piano/60.mp3\n"
            "243,192,2000000,1,0,0:0:0:78:piano/60.mp3\n"
            "243,273,3000000,1,0,0:0:0:78:piano/60.mp3\n");
}

TEST(NotePlacement, SongOfLengthZeroPlacesNotesAtTheTop) {
  const test::Bytes midi = Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).end_of_track().bytes();
  for (Mode mode : {Mode::kVertical, Mode::kHorizontal}) {
    test::Converted c = test::convert_bytes(midi, mode);
    EXPECT_EQ(test::hit_object_lines(c.osu), "243,30,0,5,0,0:0:0:78:piano/60.mp3\n");
    EXPECT_EQ(debug_lines(c.out), "sliderモード(グローバル): time=0, max_time=0, progress=0.000, final_y=30\n");
  }
}

TEST(NotePlacementDebugLines, OneLinePerNoteUpToFiveAndNoneInCircleMode) {
  const test::Bytes three = Smf()
                                .header(0, 1, 480)
                                .track()
                                .note_on(0, 0, 60, 100)
                                .note_on(480, 0, 61, 100)
                                .note_on(480, 0, 62, 100)
                                .end_of_track(2880)
                                .bytes();
  test::Converted vertical = test::convert_bytes(three, Mode::kVertical);
  EXPECT_EQ(debug_lines(vertical.out),
            "sliderモード(小節内): note=60, time=0, measure=0-2000, base_y=50, final_y=30\n"
            "sliderモード(小節内): note=61, time=500, measure=0-2000, base_y=50, final_y=111\n"
            "sliderモード(小節内): note=62, time=1000, measure=0-2000, base_y=50, final_y=192\n");
  test::Converted circle = test::convert_bytes(three, Mode::kCircle);
  EXPECT_EQ(circle.result.note_count, 3);
  EXPECT_EQ(circle.out.find("sliderモード"), std::string::npos) << circle.out;
}

TEST(NotePlacementDebugLines, DescribeTheFirstFiveNotesInTrackOrderNotInTimeOrder) {
  // Track 0 holds an early note and one at the song's end (4000 ms, past
  // the grid); track 1 five notes in between. The lines take track 0 first
  // and stop after five, while the hit objects are written in time order.
  const test::Bytes midi = Smf()
                               .header(1, 2, 480)
                               .track()
                               .note_on(0, 0, 60, 100)
                               .note_on(3840, 0, 70, 100)
                               .end_of_track()
                               .track()
                               .note_on(480, 1, 61, 100)
                               .note_on(480, 1, 62, 100)
                               .note_on(480, 1, 63, 100)
                               .note_on(480, 1, 64, 100)
                               .note_on(480, 1, 65, 100)
                               .end_of_track()
                               .bytes();
  test::Converted c = test::convert_bytes(midi, Mode::kVertical);
  EXPECT_EQ(debug_lines(c.out),
            "sliderモード(小節内): note=60, time=0, measure=0-2000, base_y=50, final_y=30\n"
            "sliderモード(グローバル): time=4000, max_time=4000, progress=1.000, final_y=354\n"
            "sliderモード(小節内): note=61, time=500, measure=0-2000, base_y=68, final_y=111\n"
            "sliderモード(小節内): note=62, time=1000, measure=0-2000, base_y=68, final_y=192\n"
            "sliderモード(小節内): note=63, time=1500, measure=0-2000, base_y=68, final_y=273\n");
  const std::string lines = test::hit_object_lines(c.osu);
  EXPECT_EQ(lines.substr(0, lines.find('\n') + 1), "243,30,0,5,0,0:0:0:78:piano/60.mp3\n");
  EXPECT_EQ(lines.substr(lines.rfind('\n', lines.size() - 2) + 1), "279,354,4000,5,0,0:0:0:78:piano/70.mp3\n");
  EXPECT_EQ(c.result.note_count, 7);
}

}  // namespace
}  // namespace onpu
