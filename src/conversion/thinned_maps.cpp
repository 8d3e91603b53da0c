#include "conversion/thinned_maps.h"

#include <cmath>

#include "beatmap/beatmap_writer.h"
#include "beatmap/note_merge.h"
#include "beatmap/play_objects.h"
#include "beatmap/preview_time.h"
#include "beats/beat_tracker.h"
#include "beats/performance_check.h"
#include "beats/performed_notes.h"
#include "common/console.h"
#include "conversion/base_name.h"
#include "difficulty/bands.h"
#include "layout/play_layout.h"
#include "midi/note_ends.h"

namespace onpu {
namespace {

// The moments as the layout reads them.
std::vector<LayoutNote> layout_notes(const MidiAnalysis& analysis, const MomentPlan& plan) {
  const BeatLengths beats = plan.inferred ? BeatLengths(plan.timing) : BeatLengths(analysis.tempo_map);
  std::vector<LayoutNote> notes;
  notes.reserve(plan.moments.size());
  for (const Moment& moment : plan.moments) {
    LayoutNote note;
    note.time_ms = moment.top.time_ms;
    note.end_ms = std::max(moment.end_ms, moment.top.time_ms);
    note.key = moment.top.key;
    note.velocity = moment.top.velocity;
    note.metric_level = static_cast<uint8_t>(moment.level);
    note.measure = moment.measure;
    note.beat_ms = beats.at(moment.top.time_ms);
    notes.push_back(note);
  }
  return notes;
}

// A laid-out map as the rating reads it.
void rated_objects(const PlayLayout& layout, const std::vector<LayoutNote>& notes, std::vector<RatedObject>* rated) {
  rated->clear();
  for (const PlayObject& object : layout.objects) {
    RatedObject r;
    r.x = object.x;
    r.y = object.y;
    r.time_ms = object.time_ms;
    r.slides = object.slides;
    r.end_x = object.end_x;
    r.end_y = object.end_y;
    r.length_px = object.length_px;
    r.beat_length_ms = notes[object.note].beat_ms;
    r.slider_velocity = 100.0 / object.inherited_beat_length;
    rated->push_back(r);
  }
}

// Whether the file's own grid fits its notes (every one, in time order).
bool grid_fits_notes(const MidiAnalysis& analysis, const std::vector<TimedNote>& notes) {
  std::vector<uint64_t> ticks;
  ticks.reserve(notes.size());
  for (const TimedNote& note : notes) ticks.push_back(note.tick);
  return file_grid_fits(ticks, analysis.header.division);
}

// The notes of the hit objects (every one, in time order, with its release)
// as the tracker reads them.
std::vector<PerformedNote> performed_hit_notes(const MidiAnalysis& analysis, const std::vector<TimedNote>& notes,
                                               const std::vector<HeldNote>& releases) {
  std::vector<PerformedNote> performed;
  performed.reserve(notes.size());
  for (size_t i = 0; i < notes.size(); ++i) {
    const int32_t end_ms = seconds_to_ms(analysis.tempo_map.ticks_to_seconds(releases[i].release_tick));
    performed.push_back(
        PerformedNote{notes[i].time_ms, std::max(end_ms, notes[i].time_ms), notes[i].key, notes[i].velocity});
  }
  return performed;
}

// The beats a player followed through the notes (in time order), into plan,
// and the moments placed on them.
void infer_timing(const std::vector<PerformedNote>& notes, MomentPlan* plan) {
  const InferredBeats beats = infer_beats(notes);
  if (beats.beats_ms.size() < 2) return;
  plan->inferred = true;
  plan->timing = beat_timing_lines(beats.beats_ms, beats.bar_starts);
  plan->slowest_bpm = beats.slowest_bpm;
  plan->fastest_bpm = beats.fastest_bpm;
  plan->meter = beats.meter;
  place_moments(BeatGrid(beats.beats_ms, beats.bar_starts), &plan->moments);
}

}  // namespace

bool plan_moments(const ByteSource& source, const MidiAnalysis& analysis, MomentPlan* plan) {
  const MetricGrid grid(analysis.tempo_map, analysis.header.division);
  MomentBuilder builder(grid);
  std::vector<TimedNote> notes;  // every note, while there are few enough to be a performance
  bool many_notes = false;
  if (!for_each_note_in_time_order(source, analysis.scan, analysis.tempo_map, [&](const TimedNote& note) {
        builder.add(note);
        if (notes.size() < kMostPerformedNotes) {
          notes.push_back(note);
        } else {
          many_notes = true;
        }
      })) {
    return false;
  }
  plan->moments = std::move(builder.moments());

  // The tracker hears every note the player struck, the soft ones too (a
  // pianissimo passage may lie wholly below the hit objects' velocity). When
  // the file cannot be read whole that way (a damaged track the conversion
  // reads around) or holds more notes than a performance, it hears the hit
  // objects' notes, released in the walk below.
  const bool performance = !many_notes && !grid_fits_notes(analysis, notes);
  PerformedSong performed;
  const bool hit_notes_only = performance && !read_performed_song(source, &performed, kMostPerformedNotes);

  // One more walk over the tracks gives the releases of the moments' top
  // notes and, where the tracker hears the hit objects' notes, of every note.
  std::vector<HeldNote> held;
  if (hit_notes_only) {
    held.reserve(notes.size() + plan->moments.size());
    for (const TimedNote& note : notes) held.push_back(HeldNote{note.tick, note.channel, note.key, 0});
  }
  const size_t first_top = held.size();
  for (const Moment& moment : plan->moments) {
    held.push_back(HeldNote{moment.top.tick, moment.top.channel, moment.top.key, 0});
  }
  if (!find_note_releases(source, analysis.scan, &held)) return false;
  for (size_t i = 0; i < plan->moments.size(); ++i) {
    Moment& moment = plan->moments[i];
    const uint64_t release = held[first_top + i].release_tick;
    if (release > moment.top.tick) moment.end_ms = seconds_to_ms(analysis.tempo_map.ticks_to_seconds(release));
  }
  if (hit_notes_only) performed.notes = performed_hit_notes(analysis, notes, held);
  if (performance) infer_timing(performed.notes, plan);
  plan->order = admission_order(plan->moments, &plan->cover_count);
  return true;
}

PlayHeader set_header_for(const MidiAnalysis& analysis, const MomentPlan& plan, const std::string& base_name,
                          const std::string& background) {
  const SongNames names = song_names(base_name);
  PlayHeader header;
  header.title = names.title;
  header.artist = names.artist;
  header.tags = names.tags;
  header.background = background;
  const std::vector<TimingLine> lines = plan.inferred ? plan.timing : song_timing_lines(analysis.tempo_map);
  std::vector<SoundingMoment> moments;
  moments.reserve(plan.moments.size());
  for (const Moment& moment : plan.moments) {
    moments.push_back(SoundingMoment{moment.top.time_ms, int64_t{moment.loudest} * moment.note_count});
  }
  header.preview_ms = choose_preview_ms(bar_line_times_ms(lines, analysis.max_time), moments, analysis.max_time);
  return header;
}

std::string thinned_version_name(int target_hundredths) {
  return std::string(band_for(target_hundredths / 100.0).name) +
         format(" %d.%02d★", target_hundredths / 100, target_hundredths % 100);
}

ConversionResult write_thinned_beatmap(const MidiAnalysis& analysis, const MomentPlan& plan,
                                       const std::string& base_name, int target_hundredths, OutputTarget& target,
                                       ThinnedMap* chosen, const PlayHeader* set_header) {
  const double target_stars = target_hundredths / 100.0;
  const DifficultyBand& band = band_for(target_stars);
  const RatingSettings settings = rating_settings(band.header);
  LayoutStyle style;
  const std::vector<LayoutNote> notes = layout_notes(analysis, plan);

  // Each map tried is laid out for play before it is rated.
  std::vector<LayoutNote> kept_notes;
  PlayLayout layout;
  std::vector<RatedObject> rated;
  auto lay_out = [&](const std::vector<uint32_t>& kept) {
    kept_notes.clear();
    for (uint32_t index : kept) kept_notes.push_back(notes[index]);
    lay_out_for_play(kept_notes, style, &layout);
    for (PlayObject& object : layout.objects) object.note = kept[object.note];
  };
  auto thin_in = [&](const LayoutStyle& candidate) {
    style = candidate;
    return thin_to_rating(plan.moments.size(), plan.order, plan.cover_count, target_stars,
                          [&](const std::vector<uint32_t>& kept) {
                            lay_out(kept);
                            rated_objects(layout, notes, &rated);
                            return rate_objects(rated, settings);
                          });
  };
  // The band's own style first; the others only when the song cannot reach
  // the target with every note.
  LayoutStyle chosen_style;
  for (const LayoutStyle& candidate : layout_styles(band.rank, settings.circle_size, settings.approach_rate)) {
    *chosen = thin_in(candidate);
    chosen_style = candidate;
    if (!chosen->topped_out) break;
  }
  // The cover of the song that every map keeps may rate above a low target
  // by itself: the song is then laid out more calmly rather than left out.
  const double kCalmEnough = 0.05;
  if (!chosen->topped_out && chosen->rating.stars > target_stars + kCalmEnough) {
    for (const LayoutStyle& calmer : calmer_styles(chosen_style)) {
      ThinnedMap tried = thin_in(calmer);
      if (std::fabs(tried.rating.stars - target_stars) < std::fabs(chosen->rating.stars - target_stars)) {
        *chosen = std::move(tried);
        chosen_style = calmer;
      }
      if (chosen->rating.stars <= target_stars + kCalmEnough) break;
    }
  }
  style = chosen_style;
  lay_out(chosen->kept);

  ConversionResult result;
  OutputSink* sink = target.open();
  if (!sink) {
    result.error = ConversionError::kCannotCreateOsu;
    return result;
  }
  TextBuffer text(*sink);
  write_beatmap_header(text, base_name, thinned_version_name(target_hundredths), analysis.tempo_map, band.header,
                       &layout, plan.inferred ? &plan.timing : nullptr, set_header);
  write_play_objects(text, layout.objects);
  text.flush();
  if (!sink->finish()) {
    result.error = ConversionError::kCannotWriteOsu;
    return result;
  }
  result.note_count = static_cast<int>(layout.objects.size());
  result.tempo_change_count = analysis.tempo_map.tempo_change_count();
  for (const PlayObject& object : layout.objects) result.keys_used.set(object.key);
  return result;
}

}  // namespace onpu
