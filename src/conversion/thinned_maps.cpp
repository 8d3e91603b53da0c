#include "conversion/thinned_maps.h"

#include "beatmap/beatmap_writer.h"
#include "beatmap/hit_object_writer.h"
#include "beatmap/note_merge.h"
#include "beatmap/note_placement.h"
#include "common/console.h"
#include "difficulty/bands.h"
#include "midi/measure_grid.h"

namespace onpu {

bool plan_moments(const ByteSource& source, const MidiAnalysis& analysis, MomentPlan* plan) {
  const MetricGrid grid(analysis.tempo_map, analysis.header.division);
  MomentBuilder builder(grid);
  if (!for_each_note_in_time_order(source, analysis.scan, analysis.tempo_map,
                                   [&](const TimedNote& note) { builder.add(note); })) {
    return false;
  }
  plan->moments = std::move(builder.moments());
  plan->order = admission_order(plan->moments);
  return true;
}

std::string thinned_version_name(const std::string& mode_version, int target_hundredths) {
  return mode_version + " " + band_for(target_hundredths / 100.0).name +
         format(" %d.%02d★", target_hundredths / 100, target_hundredths % 100);
}

ConversionResult write_thinned_beatmap(const MidiAnalysis& analysis, const MomentPlan& plan,
                                       const std::string& base_name, const ConversionOptions& options,
                                       int target_hundredths, OutputTarget& target, ThinnedMap* chosen) {
  PlacementContext context;
  context.slider_mode = options.slider_mode;
  context.horizontal = options.horizontal;
  context.max_time = analysis.max_time;
  std::vector<Measure> grid;
  if (options.slider_mode) grid = build_measure_grid(analysis.tempo_map, context.max_time);

  // Every moment's top voice, placed as the full map places it.
  std::vector<HitObject> objects;
  std::vector<RatedCircle> circles;
  objects.reserve(plan.moments.size());
  circles.reserve(plan.moments.size());
  MeasureCursor measures(grid);
  for (const Moment& moment : plan.moments) {
    const TimedNote& note = moment.top;
    const Measure* measure = options.slider_mode ? measures.find(note.time_ms) : nullptr;
    objects.push_back(place_hit_object(context, note.time_ms, measure, note.channel, note.key, note.velocity));
    circles.push_back(RatedCircle{objects.back().x, objects.back().y, objects.back().time});
  }

  const double target_stars = target_hundredths / 100.0;
  const DifficultyBand& band = band_for(target_stars);
  *chosen = thin_to_rating(circles, plan.order, target_stars, rating_settings(band.header));

  ConversionResult result;
  OutputSink* sink = target.open();
  if (!sink) {
    result.error = ConversionError::kCannotCreateOsu;
    return result;
  }
  TextBuffer text(*sink);
  write_beatmap_header(text, base_name, thinned_version_name(options.version_name, target_hundredths),
                       analysis.tempo_map, band.header);
  NullConsole quiet;
  HitObjectWriter writer(text, quiet);
  for (uint32_t index : chosen->kept) writer.add_hit_object(objects[index]);
  text.flush();
  if (!sink->finish()) {
    result.error = ConversionError::kCannotWriteOsu;
    return result;
  }
  result.note_count = writer.note_count();
  result.tempo_change_count = analysis.tempo_map.tempo_change_count();
  result.keys_used = writer.keys_used();
  return result;
}

}  // namespace onpu
