#include "beatmap/note_merge.h"

#include <algorithm>
#include <memory>

#include "midi/track_scan.h"

namespace onpu {
namespace {

// Readers of many tracks share a fixed budget, so memory stays the same
// however the notes are spread.
constexpr size_t kReadBudget = size_t{16} << 20;
constexpr size_t kMinBuffer = 512;
constexpr size_t kMaxBuffer = size_t{16} << 10;

class TrackNotes {
 public:
  TrackNotes(const ByteSource& source, const TrackChunk& chunk, size_t buffer_size, const TempoMap& tempo_map,
             const std::vector<Measure>& grid)
      : reader_(source, chunk, buffer_size), tempo_(tempo_map), measures_(grid) {}

  // Moves to the track's next qualifying note; false at the track's end.
  bool advance(const PlacementContext& context) {
    TrackEvent event;
    ReadStatus status;
    while ((status = reader_.next(&event)) == ReadStatus::kEvent) {
      if (event.kind != EventKind::kNoteOn || event.data2 < kMinimumVelocity) continue;
      int32_t time = seconds_to_ms(tempo_.seconds(event.tick));
      const Measure* measure = context.slider_mode ? measures_.find(time) : nullptr;
      current_ = place_hit_object(context, time, measure, event.status & 0x0F, event.data1, event.data2);
      return true;
    }
    file_ended_ = status == ReadStatus::kFileEnded;
    return false;
  }
  const HitObject& current() const { return current_; }
  bool file_ended() const { return file_ended_; }

 private:
  TrackReader reader_;
  TempoCursor tempo_;
  MeasureCursor measures_;
  HitObject current_;
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

}  // namespace

bool write_hit_objects_in_time_order(const ByteSource& source, const std::vector<TrackChunk>& tracks,
                                     const TempoMap& tempo_map, const std::vector<Measure>& grid,
                                     const PlacementContext& context, HitObjectWriter& writer) {
  const size_t buffer_size =
      std::clamp(kReadBudget / std::max<size_t>(1, tracks.size()), kMinBuffer, kMaxBuffer);
  std::vector<std::unique_ptr<TrackNotes>> notes;
  std::vector<HeapEntry> heap;
  notes.reserve(tracks.size());
  for (size_t i = 0; i < tracks.size(); ++i) {
    notes.push_back(std::make_unique<TrackNotes>(source, tracks[i], buffer_size, tempo_map, grid));
    if (notes.back()->advance(context)) {
      heap.push_back(HeapEntry{notes.back()->current().time, static_cast<uint32_t>(i)});
    } else if (notes.back()->file_ended()) {
      return false;
    }
  }
  if (heap.size() > 1) {
    for (size_t i = heap.size() / 2; i-- > 0;) sift_down(heap, i);
  }
  while (!heap.empty()) {
    TrackNotes& top = *notes[heap[0].track];
    writer.add_hit_object(top.current());
    if (top.advance(context)) {
      // A note at the same time as the one just written stays first: no
      // other track has that time with a lower number, or it would have gone
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

}  // namespace onpu
