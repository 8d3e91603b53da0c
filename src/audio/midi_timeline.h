// The playback view of a Standard MIDI File: every channel message and system
// exclusive message of all tracks, merged into one list and timed in seconds
// through the tempo map. The song renderer plays this list; the beatmap side
// of the program reads MIDI files on its own.
//
// Accepted: format 0, 1 and 2 (format 2 tracks are merged like format 1),
// metrical and SMPTE time division, running status, and a RIFF "RMID"
// wrapper. A track chunk that ends early ends that track; chunks other than
// "MTrk" are skipped.
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
  // Time of the last event of the longest track (its End of Track, normally):
  // where the song ends before any release tail.
  double end_seconds = 0;
};

// Parses `bytes`. On failure returns false with one line of text in *error.
bool read_midi_timeline(const std::vector<uint8_t>& bytes, MidiTimeline* timeline,
                        std::string* error);

}  // namespace onpu::audio
