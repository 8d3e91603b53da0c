// The playback view of a Standard MIDI File: every channel message and system
// exclusive message of all tracks, merged into one list and timed in seconds
// through the tempo map. The song renderer plays this list.
//
// The file is read with the converter's own track reader and tempo map, so
// the song keeps time with the beatmap's hit objects on damaged files too:
// what the converter accepts, passes over or takes as a tempo, this reads
// the same way. Format 2 tracks are merged like format 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace onpu::audio {

struct TimedEvent {
  double seconds = 0;     // from the start of the song
  uint8_t status = 0;     // 0x80..0xEF (channel message) or 0xF0 (system exclusive)
  uint8_t data1 = 0;      // first data byte of a channel message
  uint8_t data2 = 0;      // second data byte (0 for one-byte messages)
  uint32_t sysex_offset = 0;  // 0xF0 only: body in MidiTimeline::sysex_bytes,
  uint32_t sysex_size = 0;    // without the leading F0 and the closing F7
};

struct MidiTimeline {
  // Ascending time; events at the same tick keep track order, then file order.
  std::vector<TimedEvent> events;
  std::vector<uint8_t> sysex_bytes;
  // Time of the latest last event of any track (its End of Track, normally):
  // where the song ends before any release tail, as in the beatmap.
  double end_seconds = 0;
};

// Parses `bytes`. A header the converter refuses gives false with its
// message in *error. A missing or damaged track chunk ends the reading there;
// what was read before stays.
bool read_midi_timeline(const std::vector<uint8_t>& bytes, MidiTimeline* timeline,
                        std::string* error);

}  // namespace onpu::audio
