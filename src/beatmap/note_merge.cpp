#include "beatmap/note_merge.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "beatmap/hit_object_writer.h"
#include "common/messages.h"
#include "common/threads.h"

namespace onpu {
namespace {

// Readers of many tracks share a fixed budget, so memory stays the same
// however the notes are spread.
constexpr size_t kReadBudget = size_t{16} << 20;
constexpr size_t kMinBuffer = 512;
constexpr size_t kMaxBuffer = size_t{16} << 10;
// A part's lines are kept while the parts before it are still being written;
// beyond this the part waits for its turn and then writes straight through.
constexpr size_t kPartTextLimit = size_t{2} << 20;
// The most a TextBuffer hands over at once.
constexpr size_t kTextBlock = size_t{256} << 10;

constexpr uint64_t kNoTick = std::numeric_limits<uint64_t>::max();

int32_t time_of_tick(const TempoMap& tempo_map, uint64_t tick) {
  return seconds_to_ms(tempo_map.ticks_to_seconds(tick));
}

// The first tick whose time is the time of tick. Times never fall as ticks
// grow, so it is found by halving.
uint64_t first_tick_of_millisecond(const TempoMap& tempo_map, uint64_t tick) {
  const int32_t time = time_of_tick(tempo_map, tick);
  uint64_t low = 0;
  uint64_t high = tick;
  while (low < high) {
    const uint64_t middle = low + (high - low) / 2;
    if (time_of_tick(tempo_map, middle) >= time) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

// One track's notes with from_tick <= tick < to_tick, placed, in order.
class TrackNotes {
 public:
  TrackNotes(const ByteSource& source, const TrackChunk& chunk, size_t buffer_size, const TempoMap& tempo_map,
             const std::vector<Measure>& grid)
      : reader_(source, chunk, buffer_size), tempo_map_(tempo_map), grid_(grid), tempo_(tempo_map), measures_(grid) {}

  // Starts on the notes with from_tick <= tick < to_tick, reading from start.
  void start_part(const TrackPosition& start, uint64_t bytes, uint64_t from_tick, uint64_t to_tick) {
    // A reader that stopped short of the part (its last event, which ended
    // its last part, still lies before this one) reads on from there; a
    // restart reads about twice the part's bytes, so that the thread's next
    // part often finds its start in the buffer.
    const TrackPosition here = reader_.position_between_events();
    if (reader_.finished() || here.tick >= from_tick || here.offset < start.offset) {
      reader_.restart(start, bytes > 0 ? 2 * bytes + 1024 : 0);
    }
    from_tick_ = from_tick;
    to_tick_ = to_tick;
    tempo_ = TempoCursor(tempo_map_);
    measures_ = MeasureCursor(grid_);
    file_ended_ = false;
  }

  // Moves to the next note; false at the end of the track or of the part.
  bool advance(const PlacementContext& context) {
    TrackEvent event;
    ReadStatus status;
    while ((status = reader_.next(&event)) == ReadStatus::kEvent) {
      if (event.kind != EventKind::kNoteOn || event.data2 < kMinimumVelocity) continue;
      if (event.tick < from_tick_) continue;
      if (event.tick >= to_tick_) return false;
      int32_t time = seconds_to_ms(tempo_.seconds(event.tick));
      tick_ = event.tick;
      const Measure* measure = context.slider_mode ? measures_.find(time) : nullptr;
      current_ = place_hit_object(context, time, measure, event.status & 0x0F, event.data1, event.data2);
      return true;
    }
    file_ended_ = status == ReadStatus::kFileEnded;
    return false;
  }
  const HitObject& current() const { return current_; }
  uint64_t tick() const { return tick_; }
  bool file_ended() const { return file_ended_; }

 private:
  TrackReader reader_;
  const TempoMap& tempo_map_;
  const std::vector<Measure>& grid_;
  uint64_t from_tick_ = 0;
  uint64_t to_tick_ = kNoTick;
  TempoCursor tempo_;
  MeasureCursor measures_;
  HitObject current_;
  uint64_t tick_ = 0;
  bool file_ended_ = false;
};

struct HeapEntry {
  int32_t time;
  uint32_t track;
};

// Earlier time first; at equal times the lower track.
inline bool goes_after(const HeapEntry& a, const HeapEntry& b) {
  return a.time != b.time ? a.time > b.time : a.track > b.track;
}

void sift_down(std::vector<HeapEntry>& heap, size_t i) {
  const size_t n = heap.size();
  HeapEntry moving = heap[i];
  while (true) {
    size_t child = 2 * i + 1;
    if (child >= n) break;
    if (child + 1 < n && goes_after(heap[child], heap[child + 1])) ++child;
    if (!goes_after(moving, heap[child])) break;
    heap[i] = heap[child];
    i = child;
  }
  heap[i] = moving;
}

// Takes the tracks' notes out in ascending time, handing each track whose
// note is next to visit before it moves on: at equal times the lower track
// goes first, and within a track the events keep their order. heap holds
// every track that has a note, ordered. False if the file ended early.
template <typename Visit>
bool merge_in_time_order(std::vector<std::unique_ptr<TrackNotes>>& notes, std::vector<HeapEntry>& heap,
                         const PlacementContext& context, const Visit& visit) {
  while (!heap.empty()) {
    TrackNotes& top = *notes[heap[0].track];
    visit(top);
    if (top.advance(context)) {
      // A note at the same time as the one just taken stays first: no other
      // track has that time with a lower number, or it would have gone
      // before. Chords take this way.
      if (top.current().time == heap[0].time) continue;
      heap[0].time = top.current().time;
    } else {
      if (top.file_ended()) return false;
      heap[0] = heap.back();
      heap.pop_back();
      if (heap.empty()) break;
    }
    sift_down(heap, 0);
  }
  return true;
}

// The read buffer of each of `readers` track readers.
size_t buffer_size_for(size_t readers) {
  return std::clamp(kReadBudget / std::max<size_t>(1, readers), kMinBuffer, kMaxBuffer);
}

// What all threads of one pass share.
struct PassInput {
  const ByteSource& source;
  const TrackScan& scan;
  const TempoMap& tempo_map;
  const std::vector<Measure>& grid;
  const PlacementContext& context;
  const NotePassPlan& plan;
  size_t buffer_size;
};

// Where a track's reading starts for the part of ticks from_tick to to_tick:
// after the last checkpoint before it. Tells the notes before that place,
// and about how many bytes the part will read: up to the first checkpoint
// after the part, if there is one (0 otherwise).
struct PartStart {
  TrackPosition position;
  uint64_t notes_before = 0;
  uint64_t bytes = 0;
};

PartStart start_of_part(const TrackScan& scan, size_t track, uint64_t from_tick, uint64_t to_tick) {
  const std::vector<TrackCheckpoint>& checkpoints = scan.checkpoints[track];
  auto after = std::partition_point(checkpoints.begin(), checkpoints.end(),
                                    [from_tick](const TrackCheckpoint& c) { return c.position.tick < from_tick; });
  PartStart start;
  if (from_tick == 0 || after == checkpoints.begin()) {
    start.position = TrackPosition{scan.tracks[track].data_offset, 0, 0};
  } else {
    start.position = std::prev(after)->position;
    start.notes_before = std::prev(after)->notes_before;
  }
  auto end = std::partition_point(after, checkpoints.end(),
                                  [to_tick](const TrackCheckpoint& c) { return c.position.tick < to_tick; });
  // The event that ends the part lies a little past that checkpoint.
  constexpr uint64_t kPastTheEnd = 64;
  if (end != checkpoints.end()) start.bytes = end->position.offset - start.position.offset + kPastTheEnd;
  return start;
}

// Hands out the parts in order and lets them write in order: a part writes
// once every part before it has been written. Holds the totals of what was
// written and reports progress on the console.
class PartSequencer {
 public:
  PartSequencer(size_t part_count, OutputSink& out, Console& console)
      : part_count_(part_count), out_(out), console_(console) {}

  // The next part to make, or part_count when none is left or the pass failed.
  size_t take_part() {
    size_t index = next_part_.fetch_add(1);
    return failed() ? part_count_ : std::min(index, part_count_);
  }
  bool is_turn(size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return turn_ == index;
  }
  // Waits until every part before index is written; false if the pass
  // failed meanwhile.
  bool wait_for_turn(size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return turn_ == index || failed_; });
    return !failed_;
  }
  void fail() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
    }
    changed_.notify_all();
  }
  bool failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }

  // A song of one part reports its progress as its lines are formatted, on
  // this console; parts report theirs as they are written.
  Console& progress_console() { return console_; }
  bool one_part() const { return part_count_ == 1; }

  // The rest need the turn.
  OutputSink& out() { return out_; }
  int previous_channel() const { return previous_channel_; }
  // Closes the turn's part: its lines count, their progress is reported,
  // and the next part's turn begins.
  void part_written(const HitObjectWriter& writer) {
    const int before = note_count_;
    note_count_ += writer.note_count();
    constexpr int kStep = HitObjectWriter::kProgressInterval;
    for (int reached = (before / kStep + 1) * kStep; reached <= note_count_ && reached > 0 && !one_part();
         reached += kStep) {
      console_.out(format(msg::kProgress, reached));
    }
    if (writer.note_count() > 0) previous_channel_ = writer.last_channel();
    keys_used_ |= writer.keys_used();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++turn_;
    }
    changed_.notify_all();
  }
  int note_count() const { return note_count_; }
  const std::bitset<256>& keys_used() const { return keys_used_; }

 private:
  const size_t part_count_;
  OutputSink& out_;
  Console& console_;
  std::atomic<size_t> next_part_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t turn_ = 0;
  bool failed_ = false;
  int note_count_ = 0;
  int previous_channel_ = -1;
  std::bitset<256> keys_used_;
};

// Where a part's lines go: kept while earlier parts are still being written,
// and straight to the output once the part's turn has come (or its text has
// grown too large to keep, when it waits for its turn). Its first line was
// formatted as the start of a new combo; when the part before ended on the
// same channel, that line's type becomes a plain circle before it is
// written.
class PartSink : public OutputSink {
 public:
  // Fresh memory is slow to come by, so a sink that will keep text has its
  // room from the start.
  PartSink(PartSequencer& sequencer, bool keeps_text) : sequencer_(sequencer) {
    if (keeps_text) kept_.reserve(kPartTextLimit + kTextBlock);
  }

  void begin(size_t index) {
    index_ = index;
    direct_ = false;
    failed_ = false;
    first_channel_ = -1;
    kept_.clear();
  }
  void set_first_channel(int channel) { first_channel_ = channel; }

  void write(const char* data, size_t n) override {
    if (failed_) return;
    if (direct_) {
      sequencer_.out().write(data, n);
      return;
    }
    kept_.append(data, n);
    if (kept_.size() > kPartTextLimit || sequencer_.is_turn(index_)) go_direct();
  }
  bool ok() const override { return !failed_; }

  // Writes what is kept once the turn has come; false if the pass failed.
  bool end_part() {
    if (!direct_ && !failed_) go_direct();
    return !failed_;
  }

 private:
  void go_direct() {
    if (!sequencer_.wait_for_turn(index_)) {
      failed_ = true;
      return;
    }
    if (first_channel_ >= 0 && first_channel_ == sequencer_.previous_channel()) continue_combo();
    sequencer_.out().write(kept_.data(), kept_.size());
    kept_.clear();
    direct_ = true;
  }
  // "x,y,time,5,...": the type follows the third comma.
  void continue_combo() {
    size_t at = 0;
    for (int commas = 0; commas < 3 && at != std::string::npos; ++commas) {
      at = kept_.find(',', at);
      if (at != std::string::npos) ++at;
    }
    if (at != std::string::npos && at < kept_.size()) kept_[at] = '1';
  }

  PartSequencer& sequencer_;
  size_t index_ = 0;
  bool direct_ = false;
  bool failed_ = false;
  int first_channel_ = -1;
  std::string kept_;
};

// Makes part index: its notes of all tracks, merged, into writer, whose text
// goes to sink. False if the file ended early.
// The thread's readers (made when first needed) are kept from part to part.
bool make_part(const PassInput& in, size_t index, std::vector<std::unique_ptr<TrackNotes>>& notes,
               HitObjectWriter& writer, PartSink& sink) {
  const std::vector<uint64_t>& boundaries = in.plan.boundaries;
  const uint64_t from_tick = index == 0 ? 0 : boundaries[index - 1];
  const uint64_t to_tick = index < boundaries.size() ? boundaries[index] : kNoTick;
  std::vector<HeapEntry> heap;
  for (size_t i = 0; i < notes.size(); ++i) {
    const PartStart start = start_of_part(in.scan, i, from_tick, to_tick);
    // A track whose notes all lie before this part has nothing for it.
    if (start.notes_before >= in.scan.note_counts[i]) continue;
    if (!notes[i]) {
      notes[i] = std::make_unique<TrackNotes>(in.source, in.scan.tracks[i], in.buffer_size, in.tempo_map, in.grid);
    }
    notes[i]->start_part(start.position, start.bytes, from_tick, to_tick);
    if (notes[i]->advance(in.context)) {
      heap.push_back(HeapEntry{notes[i]->current().time, static_cast<uint32_t>(i)});
    } else if (notes[i]->file_ended()) {
      return false;
    }
  }
  for (size_t i = heap.size() / 2; i-- > 0;) sift_down(heap, i);
  if (!heap.empty()) sink.set_first_channel(notes[heap[0].track]->current().channel);
  return merge_in_time_order(notes, heap, in.context,
                             [&](const TrackNotes& top) { writer.add_hit_object(top.current()); });
}

// One thread's work: parts, one after another, until none is left.
void make_parts(const PassInput& in, PartSequencer& sequencer) {
  const size_t part_count = in.plan.boundaries.size() + 1;
  PartSink sink(sequencer, part_count > 1);
  TextBuffer text(sink);
  NullConsole quiet;
  Console& progress = sequencer.one_part() ? sequencer.progress_console() : quiet;
  std::vector<std::unique_ptr<TrackNotes>> notes(in.scan.tracks.size());
  for (size_t index = sequencer.take_part(); index < part_count; index = sequencer.take_part()) {
    sink.begin(index);
    HitObjectWriter writer(text, progress);
    if (!make_part(in, index, notes, writer, sink)) {
      sequencer.fail();
      return;
    }
    text.flush();
    if (!sink.end_part()) return;
    sequencer.part_written(writer);
  }
}

}  // namespace

NotePassPlan plan_note_pass(const TrackScan& scan, const TempoMap& tempo_map, uint64_t part_notes, unsigned threads) {
  NotePassPlan plan;
  plan.threads = threads > 0 ? threads : core_threads();
  // With one thread, parts would only cost their restarts.
  if (plan.threads < 2 || part_notes == 0 || count_notes(scan) / 2 < part_notes) return plan;

  // The checkpoints of all tracks in tick order tell about how many notes
  // come before each of their ticks.
  struct Mark {
    uint64_t tick;
    uint32_t track;
    uint64_t notes_before;
  };
  std::vector<Mark> marks;
  for (size_t track = 0; track < scan.checkpoints.size(); ++track) {
    for (const TrackCheckpoint& checkpoint : scan.checkpoints[track]) {
      marks.push_back(Mark{checkpoint.position.tick, static_cast<uint32_t>(track), checkpoint.notes_before});
    }
  }
  std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.tick < b.tick; });
  std::vector<uint64_t> counted(scan.checkpoints.size(), 0);
  uint64_t before = 0;
  uint64_t next_cut = part_notes;
  for (const Mark& mark : marks) {
    before += mark.notes_before - counted[mark.track];
    counted[mark.track] = mark.notes_before;
    if (before < next_cut) continue;
    const uint64_t boundary = first_tick_of_millisecond(tempo_map, mark.tick);
    if (boundary > 0 && (plan.boundaries.empty() || boundary > plan.boundaries.back())) {
      plan.boundaries.push_back(boundary);
    }
    next_cut = before + part_notes;
  }
  return plan;
}

NotePassResult write_hit_objects_in_time_order(const ByteSource& source, const TrackScan& scan,
                                               const TempoMap& tempo_map, const std::vector<Measure>& grid,
                                               const PlacementContext& context, const NotePassPlan& plan,
                                               OutputSink& out, Console& console) {
  const size_t part_count = plan.boundaries.size() + 1;
  const size_t threads = std::clamp<size_t>(plan.threads, 1, std::min<size_t>(part_count, kMaxThreads));
  const PassInput in{source, scan, tempo_map, grid, context, plan, buffer_size_for(scan.tracks.size() * threads)};
  PartSequencer sequencer(part_count, out, console);
  run_on_threads(threads, [&] { make_parts(in, sequencer); });

  NotePassResult result;
  result.ok = !sequencer.failed();
  result.note_count = sequencer.note_count();
  result.keys_used = sequencer.keys_used();
  return result;
}

bool for_each_note_in_time_order(const ByteSource& source, const TrackScan& scan, const TempoMap& tempo_map,
                                 const std::function<void(const TimedNote&)>& visit) {
  const std::vector<Measure> no_grid;
  const PlacementContext circles;
  const size_t buffer_size = buffer_size_for(scan.tracks.size());
  std::vector<std::unique_ptr<TrackNotes>> notes(scan.tracks.size());
  std::vector<HeapEntry> heap;
  for (size_t i = 0; i < notes.size(); ++i) {
    if (scan.note_counts[i] == 0) continue;
    notes[i] = std::make_unique<TrackNotes>(source, scan.tracks[i], buffer_size, tempo_map, no_grid);
    notes[i]->start_part(TrackPosition{scan.tracks[i].data_offset, 0, 0}, 0, 0, kNoTick);
    if (notes[i]->advance(circles)) {
      heap.push_back(HeapEntry{notes[i]->current().time, static_cast<uint32_t>(i)});
    } else if (notes[i]->file_ended()) {
      return false;
    }
  }
  for (size_t i = heap.size() / 2; i-- > 0;) sift_down(heap, i);
  return merge_in_time_order(notes, heap, circles, [&](const TrackNotes& top) {
    const HitObject& object = top.current();
    visit(TimedNote{top.tick(), object.time, static_cast<uint8_t>(object.channel), object.note, object.velocity});
  });
}

}  // namespace onpu
