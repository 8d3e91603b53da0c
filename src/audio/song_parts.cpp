#include "audio/song_parts.h"

#include <algorithm>
#include <vector>

namespace onpu::audio {
namespace {

constexpr int kPercussionChannel = 9;

bool is_note_message(uint8_t status) {
  uint8_t kind = status & 0xF0;
  return kind == 0x80 || kind == 0x90 || kind == 0xA0;
}

// Controllers after which notes of different keys on one channel depend on
// each other: bank select (a drum kit has exclusive classes), portamento
// time and switch, legato footswitch, portamento control, mono and poly
// mode. Bank 0 is what General MIDI files select all the time.
bool binds_keys(uint8_t controller, uint8_t value) {
  switch (controller) {
    case 0:
    case 32:
      return value != 0;
    case 5:
    case 65:
    case 68:
    case 84:
    case 126:
    case 127:
      return true;
    default:
      return false;
  }
}

}  // namespace

SongPartPlan plan_song_parts(const MidiTimeline& timeline) {
  std::array<uint64_t, 16 * 128> notes{};
  std::array<bool, 16> whole{};
  whole[kPercussionChannel] = true;
  for (const TimedEvent& event : timeline.events) {
    int channel = event.status & 0x0F;
    if ((event.status & 0xF0) == 0x90 && event.data2 > 0) ++notes[channel * 128 + event.data1];
    if ((event.status & 0xF0) == 0xB0 && binds_keys(event.data1, event.data2)) whole[channel] = true;
  }

  // A group is a whole channel or one key of a channel.
  struct Group {
    uint64_t notes = 0;
    int channel = 0;
    int key = -1;  // -1: every key of the channel
  };
  std::vector<Group> groups;
  for (int channel = 0; channel < 16; ++channel) {
    if (whole[channel]) {
      Group group;
      group.channel = channel;
      for (int key = 0; key < 128; ++key) group.notes += notes[channel * 128 + key];
      groups.push_back(group);
    } else {
      for (int key = 0; key < 128; ++key) groups.push_back({notes[channel * 128 + key], channel, key});
    }
  }
  // Heaviest first; equal groups keep channel and key order, so the plan is
  // the same on every platform.
  std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) { return a.notes > b.notes; });

  SongPartPlan plan;
  std::array<uint64_t, kSongParts> load{};
  for (const Group& group : groups) {
    int part = load[1] < load[0] ? 1 : 0;
    load[part] += group.notes;
    int first = group.key < 0 ? 0 : group.key;
    int last = group.key < 0 ? 127 : group.key;
    for (int key = first; key <= last; ++key) plan.part_of[group.channel * 128 + key] = static_cast<uint8_t>(part);
  }
  // The heaviest group went to part 0, so part 1 has notes only when both do.
  plan.parts_used = load[1] > 0 ? 2 : 1;
  return plan;
}

bool part_plays(const SongPartPlan& plan, int part, const TimedEvent& event) {
  if (!is_note_message(event.status)) return true;
  return plan.part_of[(event.status & 0x0F) * 128 + event.data1] == part;
}

}  // namespace onpu::audio
