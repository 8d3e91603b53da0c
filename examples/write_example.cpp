// Writes examples/melody.mid, the small tune the README converts: a melody
// and a bass line in two tracks, 3/4 at 100 BPM with a slower ending.
//
//   onpu_write_example OUT.mid
#include <cstdio>

#include "support/smf_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.mid\n", argv[0]);
    return 1;
  }
  using onpu::test::Smf;
  Smf smf;
  smf.header(1, 3, 480);
  // Conductor: tempo and meter; the last two bars slow down.
  smf.track().tempo(0, 600000).time_signature(0, 3, 2).tempo(480 * 3 * 6, 750000).end_of_track();
  // Melody, channel 0: (key, length in eighths).
  const int melody[][2] = {{67, 2}, {69, 1}, {71, 1}, {72, 2}, {71, 2}, {69, 2}, {67, 2}, {64, 2}, {67, 2},
                           {69, 4}, {67, 2}, {72, 2}, {74, 1}, {76, 1}, {74, 2}, {72, 2}, {71, 2}, {72, 6}};
  smf.track().program_change(0, 0, 0);
  for (const auto& note : melody) smf.note_on(0, 0, note[0], 96).note_off(240 * note[1], 0, note[0]);
  smf.end_of_track();
  // Bass, channel 1: one note a bar.
  const int bass[] = {48, 53, 48, 55, 53, 55, 48, 48};
  smf.track().program_change(0, 1, 32);
  for (int key : bass) smf.note_on(0, 1, key, 80).note_off(480 * 3, 1, key);
  smf.end_of_track();

  onpu::test::Bytes bytes = smf.bytes();
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
