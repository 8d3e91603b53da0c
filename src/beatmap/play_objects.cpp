#include "beatmap/play_objects.h"

#include "beatmap/hit_object_writer.h"
#include "common/console.h"

namespace onpu {

void write_play_objects(TextBuffer& out, const std::vector<PlayObject>& objects) {
  for (const PlayObject& object : objects) {
    const int combo = object.new_combo ? 4 : 0;
    if (object.slides == 0) {
      out.append(format("%d,%d,%d,%d,0,0:0:0:%d:piano/%d.mp3\n", object.x, object.y, object.time_ms, 1 + combo,
                        sample_volume(object.velocity), object.key));
      continue;
    }
    // Every edge of the slider (head, repeats, tail) in the default sets.
    std::string edges = "0";
    std::string edge_sets = "0:0";
    for (int i = 0; i < object.slides; ++i) {
      edges += "|0";
      edge_sets += "|0:0";
    }
    out.append(format("%d,%d,%d,%d,0,L|%d:%d,%d,%.2f,%s,%s,0:0:0:0:piano/%d.mp3\n", object.x, object.y,
                      object.time_ms, 2 + combo, object.end_x, object.end_y, object.slides, object.length_px,
                      edges.c_str(), edge_sets.c_str(), object.key));
  }
}

}  // namespace onpu
