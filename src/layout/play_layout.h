// The layout of a map for play: where the kept notes of a thinned map go on
// the playfield, which become sliders, where combos start and where the map
// declares breaks.
//
// A full map places each note by a fixed rule (its pitch, its channel, its
// place in the measure) to show the music. A map for play is laid out the
// way mappers lay one out, from what the notes say:
// - distance follows time: the move between two objects is the style's
//   spacing times the gap in beats, as the editor's distance snap measures
//   it; from Hard on, accents (downbeats, loud notes, wide intervals) get
//   wider jumps and fast runs stay compact; the cursor never has to move
//   faster than the style allows;
// - direction follows the melody: a rising voice moves up the screen, a
//   falling one down, a repeated note steps aside, and the moves turn and
//   flow over the whole playfield instead of shuttling on one spot;
// - a note held long enough becomes a slider as long as the note;
// - a combo starts at a measure, at a phrase after a rest, and after a
//   break, and never grows past the style's longest combo;
// - every rest long enough to leave the player alone gets a break.
// Everything is plain arithmetic with no functions of the platform's maths
// library, so a layout is the same to the bit on every platform.
#pragma once

#include <cstdint>
#include <vector>

#include "beatmap/play_objects.h"

namespace onpu {

// A kept note, as the layout reads it.
struct LayoutNote {
  int32_t time_ms = 0;
  int32_t end_ms = 0;  // its release; time_ms when the file gives none
  uint8_t key = 0;
  uint8_t velocity = 0;
  uint8_t metric_level = 4;  // 0 downbeat, 1 beat, 2 half beat, 3 quarter beat, 4 off the grid
  uint64_t measure = 0;      // the same number for the notes of one measure, growing with time
  double beat_ms = 500.0;    // the beat length of the map's timing point in force at time_ms
};

// How a band of difficulty lays out its maps.
struct LayoutStyle {
  double spacing = 1.0;           // distance per beat of gap, as a multiple of a slider's beat (140 px)
  bool equal_spacing = true;      // every gap of the same length gets the same distance
  double accent_spread = 0.0;     // how much an accent widens its jump (0: none)
  double run_spacing = 1.0;       // multiple of the spacing in fast runs
  double max_velocity = 0.4;      // px/ms, the fastest the cursor has to move
  double max_distance = 220.0;    // px, the widest jump
  int longest_combo = 10;         // objects
  int fullest_measure_combo = 4;  // a new measure starts a combo once the combo holds this many
  double slider_min_beats = 0.5;  // the shortest held note that becomes a slider
  double slider_snap_beats = 0.5; // a slider's length is a multiple of this (on a gridded song)
  double recovery_beats = 0.5;    // at least this much between a slider's end and the next object
  double longest_span_px = 200.0; // a longer slider goes back and forth over a shorter path
  double rhythm_slider_beats = 0.0; // two notes at most this far apart may be one slider (0: never)
  bool slider_over_lower_notes = true; // a held note's slider leaves out the lower notes under it
  double slider_speed = 0.35;     // px/ms, the fastest a slider's ball moves, through its slider velocity
  double circle_size = 4.0;       // the map's CircleSize
  double approach_rate = 5.0;     // the map's ApproachRate
};

// The style of a band of difficulty, from 0 (Easy) to 5 (Expert+), with its
// header's circle size and approach rate.
LayoutStyle layout_style(int band_rank, double circle_size, double approach_rate);

// The styles a map of a band may take, in the order they are tried: the
// band's own first, then, for a song whose every note rates below the
// target in it, one where every note is an object of its own (no slider
// leaves a note out, none is shorter than half a beat), then wider and
// wider spacing: a song of few notes reaches a higher rating by wider jumps,
// as a mapper would map it. Where spacing follows time exactly it stays
// equal at any scale.
std::vector<LayoutStyle> layout_styles(int band_rank, double circle_size, double approach_rate);

// Calmer styles than style, calmest last: shorter moves, a slower cursor
// and slower sliders, for a song whose notes the map must follow but whose
// rating must stay low.
std::vector<LayoutStyle> calmer_styles(const LayoutStyle& style);

// Lays out notes (in time order, at least 10 ms apart where it matters: a
// note within 10 ms of the previous object's end is left out) in the style.
void lay_out_for_play(const std::vector<LayoutNote>& notes, const LayoutStyle& style, PlayLayout* layout);

// The radius of a circle and the time an object is on screen before it is
// hit, as the game draws them for a circle size and an approach rate.
double circle_radius(double circle_size);
double preempt_ms(double approach_rate);

}  // namespace onpu
