// The song's MP3, made from its rendered samples on two cores. Each half of
// the song has an encoder of its own; the second starts a little before its
// half, and the two streams are joined at the first frame where both code
// the sound with the same windows and the second needs no more of its bit
// reservoir than the first had ready. Decoders see one ordinary stream with
// one Info frame.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "audio/mp3_encoder.h"
#include "common/file_io.h"

namespace onpu::audio {

struct Mp3SplitOptions {
  // Songs shorter than this many sample frames are encoded in one go.
  size_t min_frames = 30 * 44100;
  // MP3 frames the second encoder runs before it may take over, for its
  // psychoacoustic state and bit reservoir to settle.
  size_t warm_up = 32;
  // MP3 frames after the middle in which the join is looked for.
  size_t window = 96;
  // Told how much of the song is encoded, 0 to 1, as it goes (one call at a
  // time, the fractions in order, though the encoders run on two threads).
  std::function<void(double fraction)> progress;
};

// Encodes `frames` sample frames of raw floats (interleaved as `format`
// says) from the file at `samples_path`, each multiplied by `gain`, into the
// empty file `out`. `spare`, another empty file, holds the second half on
// the way. The Info frame describes the whole stream as if one encoder had
// made it, so gapless decoders give back exactly `frames` frames. The same
// samples always give the same bytes; when no join is found, or the song is
// short, one encoder makes it all and the bytes are exactly Mp3Encoder's.
// Each failure is one line in *error.
bool encode_samples_mp3(const std::string& samples_path, size_t frames, float gain, const Mp3Format& format,
                        const Mp3SplitOptions& options, AtomicOutputFile& out, AtomicOutputFile& spare,
                        std::string* error);

}  // namespace onpu::audio
