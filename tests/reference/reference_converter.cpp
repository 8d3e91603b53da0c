#include "reference/reference_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "common/console.h"
#include "common/messages.h"

namespace onpu::test {
namespace {

struct Event {
  uint64_t tick;
  int status;
  int data1;
  int data2;
  int meta_type;
  uint64_t meta_length;
  Bytes meta_data;
};

enum class End { kEndOfTrack, kQuiet, kMetaCut, kNoteOnCut, kFileEnded };

struct Track {
  std::vector<Event> events;
  End end = End::kQuiet;
  bool any_status = false;
  uint64_t last_status_tick = 0;
};

uint32_t be32(const Bytes& b, size_t at) {
  return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

// Reads the events in data[begin, end). cut: the file ends there, not the chunk.
Track read_track(const Bytes& data, size_t begin, size_t end, bool cut) {
  Track track;
  size_t pos = begin;
  uint64_t tick = 0;
  int running = 0;
  auto stop = [&](End inside_chunk) {
    track.end = cut ? End::kFileEnded : inside_chunk;
    return track;
  };
  while (true) {
    uint32_t delta = 0;
    int byte;
    do {
      if (pos >= end) return stop(End::kQuiet);
      byte = data[pos++];
      delta = (delta << 7) | (byte & 0x7F);
    } while (byte & 0x80);
    tick += delta;
    if (pos >= end) {
      track.end = End::kQuiet;
      return track;
    }
    byte = data[pos++];
    track.any_status = true;
    track.last_status_tick = tick;
    Event event{tick, 0, 0, 0, -1, 0, {}};
    if (byte < 0x80 && running == 0) {
      if (pos + 1 > end) return stop(End::kQuiet);
      pos += 1;
      track.events.push_back(event);
      continue;
    }
    if (byte == 0xFF) {
      if (pos >= end) {
        track.end = End::kMetaCut;
        return track;
      }
      event.status = 0xFF;
      event.meta_type = data[pos++];
      uint64_t length = 0;
      do {
        if (pos >= end) {
          track.end = End::kMetaCut;
          return track;
        }
        byte = data[pos++];
        if (length < (uint64_t(1) << 48)) length = (length << 7) | (byte & 0x7F);
      } while (byte & 0x80);
      event.meta_length = length;
      if (length > end - pos) return stop(End::kQuiet);
      if (length <= 4) event.meta_data.assign(data.begin() + pos, data.begin() + pos + length);
      pos += length;
      track.events.push_back(event);
      if (event.meta_type == 0x2F) {
        track.end = End::kEndOfTrack;
        return track;
      }
      continue;
    }
    if (byte >= 0xF0) {
      uint64_t length = 0;
      if (byte == 0xF0 || byte == 0xF7) {
        do {
          if (pos >= end) return stop(End::kQuiet);
          int b = data[pos++];
          if (length < (uint64_t(1) << 48)) length = (length << 7) | (b & 0x7F);
          byte = b;
        } while (byte & 0x80);
      } else if (byte == 0xF1 || byte == 0xF3) {
        length = 1;
      } else if (byte == 0xF2) {
        length = 2;
      }
      if (length > end - pos) return stop(End::kQuiet);
      pos += length;
      event.status = 0xF0;
      track.events.push_back(event);
      continue;
    }
    if (byte >= 0x80) {
      running = byte;
    } else {
      --pos;  // the byte is the first data byte
    }
    event.status = running;
    const int kind = running & 0xF0;
    const size_t count = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
    if (end - pos < count) return stop(kind == 0x90 ? End::kNoteOnCut : End::kQuiet);
    event.data1 = data[pos];
    if (count == 2) event.data2 = data[pos + 1];
    pos += count;
    track.events.push_back(event);
  }
}

struct Segment {
  uint64_t tick;
  uint32_t tempo;
  double bpm;
  double start;
};

struct Signature {
  uint64_t tick;
  int numerator;
  int denominator;
};

int32_t to_int32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(v);
}

struct Record {
  int32_t x, y, time, channel;
  int note, velocity;
};

}  // namespace

ReferenceResult reference_convert(const Bytes& data, Mode mode, const std::string& base_name) {
  ReferenceResult r;
  const bool slider = mode != Mode::kCircle;
  const bool horizontal = mode == Mode::kHorizontal;
  auto fail = [&](const std::string& message) {
    r.err += message;
    return r;
  };

  // Header.
  if (data.size() < 14 || data[0] != 'M' || data[1] != 'T' || data[2] != 'h' || data[3] != 'd') {
    return fail(msg::kInvalidMidi);
  }
  const uint32_t header_length = be32(data, 4);
  const int format_number = (data[8] << 8) | data[9];
  const int track_count = (data[10] << 8) | data[11];
  const int division = (data[12] << 8) | data[13];
  double smpte_rate = 0;
  if (header_length < 6 || division == 0) return fail(msg::kInvalidMidi);
  if (division & 0x8000) {
    int fps = 256 - (division >> 8);
    int tpf = division & 0xFF;
    if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || tpf == 0) return fail(msg::kInvalidMidi);
    smpte_rate = (fps == 29 ? 30000.0 / 1001.0 : fps) * tpf;
  }
  r.out += format(msg::kHeaderLine, format_number, track_count);
  r.out += msg::kCollectingTempo;

  // Every track, every event; tempo events in file order.
  std::vector<Track> tracks;
  std::vector<Segment> tempo_events;
  std::vector<Signature> signature_events;
  uint64_t offset = 8 + uint64_t(header_length);
  while (static_cast<int>(tracks.size()) < track_count) {
    if (offset + 8 > data.size()) return fail(msg::kReadFailed);
    for (int i = 0; i < 4; ++i) {
      if (data[offset + i] < 0x20 || data[offset + i] > 0x7E) {
        return fail(format(msg::kInvalidTrackHeader, static_cast<int>(tracks.size())));
      }
    }
    const uint64_t chunk_end = offset + 8 + be32(data, offset + 4);
    const bool is_track = std::equal(data.begin() + offset, data.begin() + offset + 4, "MTrk");
    if (is_track) {
      Track track = read_track(data, offset + 8, std::min<uint64_t>(chunk_end, data.size()), chunk_end > data.size());
      for (const Event& e : track.events) {
        if (e.meta_type == 0x51 && e.meta_length == 3) {
          uint32_t tempo = (e.meta_data[0] << 16) | (e.meta_data[1] << 8) | e.meta_data[2];
          if (tempo == 0) {
            r.err += format(msg::kTempoZeroIgnored, static_cast<unsigned long long>(e.tick));
            continue;
          }
          double bpm = 60000000.0 / tempo;
          r.out += format(msg::kTempoFound, static_cast<unsigned long long>(e.tick), tempo, tempo, bpm);
          r.out += format(msg::kTempoFormula, tempo, bpm);
          tempo_events.push_back({e.tick, tempo, bpm, 0});
        } else if (e.meta_type == 0x58 && e.meta_length == 4) {
          int denominator = static_cast<int32_t>(1u << (e.meta_data[1] % 32));
          r.out += format(msg::kTimeSignatureFound, static_cast<unsigned long long>(e.tick), e.meta_data[0], denominator);
          signature_events.push_back({e.tick, e.meta_data[0], denominator});
        }
      }
      if (track.end == End::kFileEnded) return fail(msg::kReadFailed);
      if (track.end == End::kMetaCut) r.err += msg::kMetaReadFailed;
      tracks.push_back(track);
    }
    offset = chunk_end;
  }

  // Tempo map and meters in tick order.
  auto by_tick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
  std::stable_sort(tempo_events.begin(), tempo_events.end(), by_tick);
  std::stable_sort(signature_events.begin(), signature_events.end(), by_tick);
  std::vector<Segment> segments{{0, 500000, 120.0, 0.0}};
  for (const Segment& e : tempo_events) {
    if (e.tick == 0) {
      segments[0].tempo = e.tempo;
      segments[0].bpm = e.bpm;
    } else {
      const Segment& p = segments.back();
      double start = smpte_rate > 0 ? e.tick / smpte_rate
                                    : ((p.tempo / (division * 1000000.0)) * double(e.tick - p.tick)) + p.start;
      segments.push_back({e.tick, e.tempo, e.bpm, start});
    }
  }
  std::vector<Signature> signatures{{0, 4, 4}};
  for (const Signature& s : signature_events) {
    if (s.tick == 0) {
      signatures[0] = s;
    } else {
      signatures.push_back(s);
    }
  }
  auto seconds = [&](uint64_t tick) {
    if (smpte_rate > 0) return tick / smpte_rate;
    size_t i = 0;
    while (i + 1 < segments.size() && tick >= segments[i + 1].tick) ++i;
    return ((segments[i].tempo / (division * 1000000.0)) * double(tick - segments[i].tick)) + segments[i].start;
  };
  auto ms = [&](uint64_t tick) { return to_int32(seconds(tick) * 1000.0); };

  int32_t max_time = 0;
  for (const Track& t : tracks) {
    if (t.any_status) max_time = std::max(max_time, ms(t.last_status_tick));
  }

  // Measure grid.
  struct Bar {
    int32_t start, end;
    double bpm;
  };
  std::vector<Bar> bars;
  if (slider) {
    if (max_time == 0) {
      bars.push_back({0, 0, 120.0});
    } else {
      size_t current = 0;
      int64_t start = 0;
      while (true) {
        int64_t length = to_int32(((4.0 / signatures[0].denominator) * (60000.0 / segments[current].bpm)) *
                                  signatures[0].numerator);
        int64_t end = start + length;
        bool next = current + 1 < segments.size();
        int64_t boundary = next ? to_int32(segments[current + 1].start * 1000.0) : 0;
        if (next && boundary < end) {
          end = boundary;
          length = boundary - start;
        }
        if (length <= 0) {
          length = 1000;
          end = start + 1000;
        }
        end = std::min<int64_t>(end, 2147483647);
        bars.push_back({int32_t(start), int32_t(end), segments[current].bpm});
        start = end;
        if (next && end >= boundary) ++current;
        if (bars.size() >= 1000 || end >= max_time) break;
      }
    }
    r.out += msg::kMeasureHeading;
    for (size_t i = 0; i < bars.size() && i < 5; ++i) {
      r.out += format(msg::kMeasureLine, int(i + 1), bars[i].start, bars[i].end, bars[i].bpm);
    }
  }

  // Header text.
  r.osu = "\xEF\xBB\xBFosu file format v14\n\n[General]\nAudioFilename: " + base_name +
          ".mp3\nAudioLeadIn: 0\nPreviewTime: -1\nCountdown: 0\nSampleSet: Normal\nStackLeniency: 0\nMode: 0\n"
          "LetterboxInBreaks: 0\nWidescreenStoryboard: 0\n\n[Editor]\nDistanceSpacing: 1\nBeatDivisor: 4\n"
          "GridSize: 32\nTimelineZoom: 1\n\n[Metadata]\nTitle:" + base_name + "\nTitleUnicode:" + base_name +
          "\nArtist:Unknown\nArtistUnicode:Unknown\nCreator:MIDI Converter\nVersion:" +
          options_for(mode).version_name +
          "\nSource:MIDI\nTags:midi converted\nBeatmapID:0\nBeatmapSetID:-1\n\n[Difficulty]\nHPDrainRate:5\n"
          "CircleSize:16\nOverallDifficulty:5\nApproachRate:5\nSliderMultiplier:1.4\nSliderTickRate:1\n\n"
          "[Events]\n//Background and Video events\n//Break Periods\n//Storyboard Layer 0 (Background)\n"
          "//Storyboard Layer 1 (Fail)\n//Storyboard Layer 2 (Pass)\n//Storyboard Layer 3 (Foreground)\n"
          "//Storyboard Layer 4 (Overlay)\n//Storyboard Sound Samples\n\n[TimingPoints]\n";
  for (const Segment& s : segments) {
    int meter = signatures[0].numerator;
    for (const Signature& g : signatures) {
      if (g.tick <= s.tick) meter = g.numerator;
    }
    r.osu += format("%d,%.6f,%d,1,0,100,1,0\n", to_int32(s.start * 1000.0), 60000.0 / s.bpm, meter);
  }
  r.osu +=
      "\n[Colours]\nCombo1 : 255,192,0\nCombo2 : 0,202,0\nCombo3 : 18,124,255\nCombo4 : 242,24,57\n"
      "Combo5 : 128,0,128\nCombo6 : 0,255,255\nCombo7 : 255,128,0\nCombo8 : 255,105,180\n\n[HitObjects]\n";

  // Notes, in track order, then sorted by time.
  r.out += msg::kExtractingNotes;
  std::vector<Record> records;
  for (const Track& t : tracks) {
    for (const Event& e : t.events) {
      if ((e.status & 0xF0) != 0x90 || e.data2 < 31) continue;
      const int32_t time = ms(e.tick);
      const int n = std::min(e.data1, 127);
      const int channel = e.status & 0x0F;
      const int pitch_x = 30 + (n * 452) / 127;
      const int base_y = 50 + (channel * 284) / 15;
      Record rec{pitch_x, base_y, time, channel, e.data1, e.data2};
      if (slider) {
        const Bar* bar = nullptr;
        for (const Bar& b : bars) {
          if (b.start <= time && time < b.end) {
            bar = &b;
            break;
          }
        }
        std::string line;
        if (bar) {
          double progress = double(time - bar->start) / double(bar->end - bar->start);
          if (horizontal) {
            rec.x = std::clamp(30 + to_int32(progress * 452), 30, 482);
            rec.y = std::clamp(50 + ((127 - n) * 284) / 127, 50, 334);
          } else {
            rec.y = std::clamp(30 + to_int32(progress * 324), 30, 354);
          }
          line = format(msg::kDebugInMeasure, e.data1, time, bar->start, bar->end, base_y, rec.y);
        } else {
          double progress = max_time == 0 ? 0.0 : double(time) / max_time;
          rec.y = 30 + to_int32(progress * 324);
          line = format(msg::kDebugGlobal, time, max_time, progress, rec.y);
        }
        if (records.size() < 5) r.out += line;
      }
      records.push_back(rec);
    }
    if (t.end == End::kMetaCut) r.err += msg::kMetaReadFailed;
    if (t.end == End::kNoteOnCut) r.err += msg::kNoteOnReadFailed;
  }
  std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.time < b.time; });
  int previous_channel = -1;
  int count = 0;
  for (const Record& rec : records) {
    int type = 1;
    if (rec.channel != previous_channel) {
      type = 5;
      previous_channel = rec.channel;
    }
    int volume = static_cast<int>(static_cast<double>(rec.velocity) / 127.0 * 100.0);
    r.osu += format("%d,%d,%d,%d,0,0:0:0:%d:piano/%d.mp3\n", rec.x, rec.y, rec.time, type, volume, rec.note);
    if (++count % 10000 == 0) r.out += format(msg::kProgress, count);
  }
  r.ok = true;
  return r;
}

}  // namespace onpu::test
