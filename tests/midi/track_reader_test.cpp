// Event lengths, running status and chunk framing of the track reader.
#include "midi/track_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using test::Bytes;
using test::Smf;

const char kMetaFailed[] = "エラー: メタイベントの読み込みに失敗しました\n";
const char kNoteOnFailed[] = "エラー: ノートオンイベントの読み込みに失敗しました\n";
const char kReadFailed[] = "エラー: ファイルの読み込みに失敗しました\n";

struct TrackRead {
  std::vector<TrackEvent> events;
  ReadStatus end = ReadStatus::kEvent;
};

TrackRead read_first_track_through(const Bytes& file, size_t buffer_size) {
  MemorySource source(file.data(), file.size());
  TrackChunk chunk;
  EXPECT_EQ(find_track_chunk(source, 14, &chunk), ChunkSearch::kFound);
  TrackReader reader(source, chunk, buffer_size);
  TrackRead read;
  TrackEvent event;
  while ((read.end = reader.next(&event)) == ReadStatus::kEvent) read.events.push_back(event);
  return read;
}

// Every event of the first "MTrk" chunk after the 14-byte header. It is read
// through a tiny buffer, so that events straddle refills and skips, and
// again through large ones, where whole channel messages take the reader's
// quick way; both must see the same events.
TrackRead read_first_track(const Bytes& file) {
  TrackRead tiny = read_first_track_through(file, 3);
  for (size_t buffer_size : {size_t{8}, size_t{1} << 16}) {
    SCOPED_TRACE(buffer_size);
    TrackRead large = read_first_track_through(file, buffer_size);
    EXPECT_EQ(large.end, tiny.end);
    EXPECT_EQ(large.events.size(), tiny.events.size());
    for (size_t i = 0; i < std::min(large.events.size(), tiny.events.size()); ++i) {
      const TrackEvent& a = tiny.events[i];
      const TrackEvent& b = large.events[i];
      EXPECT_EQ(a.tick, b.tick) << "event " << i;
      EXPECT_EQ(a.kind, b.kind) << "event " << i;
      EXPECT_EQ(a.status, b.status) << "event " << i;
      if (a.kind == EventKind::kNoteOn || a.kind == EventKind::kChannel) {
        EXPECT_EQ(a.data1, b.data1) << "event " << i;
        EXPECT_EQ(a.data2, b.data2) << "event " << i;
      }
      if (a.kind == EventKind::kMeta) {
        EXPECT_EQ(a.meta_type, b.meta_type) << "event " << i;
        EXPECT_EQ(a.meta_length, b.meta_length) << "event " << i;
      }
    }
  }
  return tiny;
}

// A one-track file, its track open for events.
Smf song() { return Smf().header(0, 1, 480).track(); }

void expect_note_on(const TrackEvent& event, uint64_t tick, int key, int velocity) {
  EXPECT_EQ(event.kind, EventKind::kNoteOn);
  EXPECT_EQ(event.tick, tick);
  EXPECT_EQ(event.data1, key);
  EXPECT_EQ(event.data2, velocity);
}

// --- Event lengths --------------------------------------------------------

TEST(TrackReaderEventLengths, ChannelMessagesCarryOneOrTwoDataBytes) {
  const struct {
    uint8_t status;
    Bytes data;
  } cases[] = {{0x80, {60, 64}}, {0x8F, {60, 64}}, {0x9F, {60, 100}}, {0xA0, {60, 10}}, {0xBF, {7, 100}},
               {0xC0, {3}},      {0xCF, {3}},      {0xD0, {50}},      {0xDF, {50}},      {0xE0, {0, 64}},
               {0xEF, {0, 64}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    TrackRead read =
        read_first_track(song().delta(1).raw({c.status}).raw(c.data).note_on(2, 0, 61, 99).end_of_track().bytes());
    ASSERT_EQ(read.events.size(), 2u);
    EXPECT_EQ(read.events[0].status, c.status);
    EXPECT_EQ(read.events[0].tick, 1u);
    expect_note_on(read.events[1], 3, 61, 99);
    EXPECT_EQ(read.end, ReadStatus::kEndOfTrack);
  }
}

TEST(TrackReaderEventLengths, SysexIsPassedOverByItsVariableLength) {
  for (uint8_t status : {uint8_t{0xF0}, uint8_t{0xF7}}) {
    for (size_t length : {0, 1, 127, 128, 16383, 16384}) {
      SCOPED_TRACE(std::to_string(status) + " length " + std::to_string(length));
      TrackRead read =
          read_first_track(song().sysex(1, Bytes(length, 0x01), status).note_on(2, 0, 61, 99).end_of_track().bytes());
      ASSERT_EQ(read.events.size(), 2u);
      EXPECT_EQ(read.events[0].status, status);
      expect_note_on(read.events[1], 3, 61, 99);
    }
  }
}

TEST(TrackReaderEventLengths, MetaEventIsPassedOverByItsVariableLength) {
  for (size_t length : {0, 5, 127, 128, 300, 16384}) {
    SCOPED_TRACE(length);
    TrackRead read =
        read_first_track(song().meta(1, 0x01, Bytes(length, 'a')).note_on(2, 0, 61, 99).end_of_track().bytes());
    ASSERT_EQ(read.events.size(), 2u);
    EXPECT_EQ(read.events[0].kind, EventKind::kMeta);
    EXPECT_EQ(read.events[0].meta_type, 0x01);
    EXPECT_EQ(read.events[0].meta_length, length);
    expect_note_on(read.events[1], 3, 61, 99);
  }
}

TEST(TrackReaderEventLengths, ShortMetaEventKeepsItsDataBytes) {
  TrackRead read = read_first_track(song().tempo(0, 0x07A120).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 1u);
  EXPECT_EQ(read.events[0].meta_type, 0x51);
  EXPECT_EQ(read.events[0].meta_length, 3u);
  EXPECT_EQ(read.events[0].meta_data[0], 0x07);
  EXPECT_EQ(read.events[0].meta_data[1], 0xA1);
  EXPECT_EQ(read.events[0].meta_data[2], 0x20);
}

// --- Running status -------------------------------------------------------

TEST(TrackReaderRunningStatus, DataByteRepeatsTheLastNoteOn) {
  TrackRead read = read_first_track(song().note_on(0, 2, 60, 100).running(5, {62, 90}).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 2u);
  EXPECT_EQ(read.events[1].status, 0x92);
  expect_note_on(read.events[1], 5, 62, 90);
}

TEST(TrackReaderRunningStatus, OneByteMessageRepeatsWithOneDataByte) {
  TrackRead read =
      read_first_track(song().program_change(0, 0, 5).running(1, {6}).note_on(1, 0, 60, 100).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 3u);
  EXPECT_EQ(read.events[1].status, 0xC0);
  EXPECT_EQ(read.events[1].tick, 1u);
  expect_note_on(read.events[2], 2, 60, 100);
}

TEST(TrackReaderRunningStatus, RunningStatusSurvivesMetaEvent) {
  TrackRead read =
      read_first_track(song().note_on(0, 0, 60, 100).meta(0, 0x01, {'x'}).running(5, {62, 90}).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 3u);
  expect_note_on(read.events[2], 5, 62, 90);
}

TEST(TrackReaderRunningStatus, RunningStatusSurvivesSysex) {
  TrackRead read = read_first_track(
      song().note_on(0, 0, 60, 100).sysex(0, {0x7E, 0x7F, 0x06}).running(5, {62, 90}).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 3u);
  expect_note_on(read.events[2], 5, 62, 90);
}

TEST(TrackReaderRunningStatus, SystemMessagesHaveTheirOwnLengthsAndKeepRunningStatus) {
  for (int status = 0xF1; status <= 0xFE; ++status) {
    if (status == 0xF7) continue;
    SCOPED_TRACE(status);
    const size_t length = status == 0xF1 || status == 0xF3 ? 1 : status == 0xF2 ? 2 : 0;
    TrackRead read = read_first_track(song()
                                          .note_on(0, 0, 60, 100)
                                          .delta(1)
                                          .raw({uint8_t(status)})
                                          .raw(Bytes(length, 0x05))
                                          .running(2, {62, 90})
                                          .end_of_track()
                                          .bytes());
    ASSERT_EQ(read.events.size(), 3u);
    EXPECT_EQ(read.events[1].status, status);
    EXPECT_EQ(read.events[1].tick, 1u);
    expect_note_on(read.events[2], 3, 62, 90);
  }
}

TEST(TrackReaderRunningStatus, DataByteWithoutStatusPassesOverTwoBytes) {
  TrackRead read = read_first_track(song().raw({0x00, 0x3C, 0x40}).note_on(5, 0, 62, 90).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 2u);
  EXPECT_EQ(read.events[0].status, 0);
  EXPECT_EQ(read.events[0].kind, EventKind::kOther);
  expect_note_on(read.events[1], 5, 62, 90);
}

// --- Delta times ----------------------------------------------------------

TEST(TrackReaderDeltaTimes, TicksGrowPastTwoToThe32WithoutWrapping) {
  Smf smf = song();
  for (int i = 0; i < 17; ++i) smf.meta(0x0FFFFFFF, 0x01, {});
  TrackRead read = read_first_track(smf.note_on(0, 0, 60, 100).end_of_track().bytes());
  ASSERT_EQ(read.events.size(), 18u);
  expect_note_on(read.events[17], 4563402735u, 60, 100);  // 17 * (2^28 - 1)
}

TEST(TrackReaderDeltaTimes, LongDeltaQuantityKeepsItsLowest32Bits) {
  // Six bytes with leading zero groups: 5.
  TrackRead padded =
      read_first_track(song().raw({0x80, 0x80, 0x80, 0x80, 0x80, 0x05, 0x90, 60, 100}).end_of_track().bytes());
  ASSERT_EQ(padded.events.size(), 1u);
  expect_note_on(padded.events[0], 5, 60, 100);
  // Five bytes worth 2^32 + 5: the bit above the 32 is lost.
  TrackRead wide = read_first_track(song().raw({0x90, 0x80, 0x80, 0x80, 0x05, 0x90, 60, 100}).end_of_track().bytes());
  ASSERT_EQ(wide.events.size(), 1u);
  expect_note_on(wide.events[0], 5, 60, 100);
}

// --- Chunks ---------------------------------------------------------------

TEST(TrackReaderChunks, AlienChunkIsNotCountedAsTrack) {
  Bytes file = Smf()
                   .header(1, 2, 480)
                   .track().note_on(0, 0, 60, 100).end_of_track()
                   .chunk("Junk").raw({0x00, 0x90, 0x3C, 0x7F})
                   .track().note_on(0, 0, 62, 100).end_of_track()
                   .bytes();
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kNone);
  EXPECT_EQ(c.result.note_count, 2);
  EXPECT_EQ(c.err, "");
}

TEST(TrackReaderChunks, TagOfPrintableCharactersIsAChunkAndAnyOtherIsDamage) {
  const struct {
    std::string tag;
    ChunkSearch expected;
  } cases[] = {{"\x20\x20\x20\x20", ChunkSearch::kFound}, {"~~~~", ChunkSearch::kFound},
               {std::string("MT\x1Fk"), ChunkSearch::kInvalidTag}, {"MT\x7Fk", ChunkSearch::kInvalidTag},
               {std::string("\0\0\0\0", 4), ChunkSearch::kInvalidTag}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    Bytes file = Smf().header(0, 1, 480).chunk(c.tag).raw({1}).track().end_of_track().bytes();
    MemorySource source(file.data(), file.size());
    TrackChunk chunk;
    EXPECT_EQ(find_track_chunk(source, 14, &chunk), c.expected);
  }
}

TEST(TrackReaderChunks, DamagedTagReportsTheIndexOfTheTrackLookedFor) {
  Bytes file = Smf()
                   .header(1, 3, 480)
                   .track().end_of_track()
                   .track().end_of_track()
                   .chunk("MT\x01k").end_of_track()
                   .bytes();
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kInvalidTrackHeader);
  EXPECT_EQ(error_message(c.result, "", ""), "エラー: トラック 2 に無効なヘッダーがあります\n");
  EXPECT_FALSE(c.output_opened);
}

TEST(TrackReaderChunks, BytesAfterEndOfTrackArePassedOver) {
  Bytes file = Smf()
                   .header(1, 2, 480)
                   .track().note_on(0, 0, 60, 100).end_of_track().raw({0x00, 0x90, 0x3E, 0x64})
                   .track().note_on(0, 0, 64, 100).end_of_track()
                   .bytes();
  TrackRead read = read_first_track(file);
  EXPECT_EQ(read.events.size(), 1u);
  EXPECT_EQ(read.end, ReadStatus::kEndOfTrack);
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kNone);
  EXPECT_EQ(c.result.note_count, 2);
}

TEST(TrackReaderChunks, TrackWithoutEndOfTrackEndsQuietlyAtChunkEnd) {
  Bytes file = Smf()
                   .header(1, 2, 480)
                   .track().note_on(0, 0, 60, 100)
                   .track().note_on(0, 0, 64, 100).end_of_track()
                   .bytes();
  EXPECT_EQ(read_first_track(file).end, ReadStatus::kTrackEnded);
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kNone);
  EXPECT_EQ(c.result.note_count, 2);
  EXPECT_EQ(c.err, "");
}

TEST(TrackReaderChunks, FewerTrackChunksThanTheHeaderSaysIsReadFailure) {
  Bytes one_track = Smf().header(1, 2, 480).track().note_on(0, 0, 60, 100).end_of_track().bytes();
  for (const Bytes& file : {one_track, test::appended(one_track, {'M', 'T', 'r', 'k', 0, 0})}) {
    test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
    EXPECT_EQ(c.result.error, ConversionError::kReadFailed);
    EXPECT_EQ(error_message(c.result, "", ""), kReadFailed);
  }
}

// --- A chunk cut by the end of the file -----------------------------------

TEST(TrackReaderFileEnd, DeltaTimeCutByFileEndIsFatal) {
  for (const Bytes& tail : {Bytes{}, Bytes{0x81}}) {
    Bytes file = song().note_on(0, 0, 60, 100).raw(tail).set_chunk_length(100).bytes();
    EXPECT_EQ(read_first_track(file).end, ReadStatus::kFileEnded);
    test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
    EXPECT_EQ(c.result.error, ConversionError::kReadFailed);
    EXPECT_EQ(error_message(c.result, "", ""), kReadFailed);
    EXPECT_FALSE(c.output_opened);
  }
}

TEST(TrackReaderFileEnd, MissingStatusAtFileEndEndsTrackQuietly) {
  Bytes file = song().note_on(0, 0, 60, 100).delta(10).set_chunk_length(100).bytes();
  EXPECT_EQ(read_first_track(file).end, ReadStatus::kTrackEnded);
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kNone);
  EXPECT_EQ(c.result.note_count, 1);
  EXPECT_EQ(c.err, "");
}

TEST(TrackReaderFileEnd, ChannelDataCutByFileEndIsFatal) {
  Bytes file = song().raw({0x00, 0xB0, 0x07}).set_chunk_length(100).bytes();
  EXPECT_EQ(read_first_track(file).end, ReadStatus::kFileEnded);
  EXPECT_EQ(test::convert_bytes(file, test::Mode::kCircle).result.error, ConversionError::kReadFailed);
}

TEST(TrackReaderFileEnd, MetaLengthCutByFileEndIsReportedAndNotFatal) {
  Bytes file = song().note_on(0, 0, 60, 100).raw({0x00, 0xFF, 0x2F}).set_chunk_length(100).bytes();
  EXPECT_EQ(read_first_track(file).end, ReadStatus::kMetaCut);
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kNone);
  EXPECT_EQ(c.result.note_count, 1);
  EXPECT_EQ(c.err, std::string(kMetaFailed) + kMetaFailed);
}

// --- A chunk that ends inside an event ------------------------------------

// The first track ends with cut_event at its chunk's end; a second track
// with one note follows.
Bytes first_track_cut_by(const Bytes& cut_event) {
  return Smf()
      .header(1, 2, 480)
      .track().note_on(0, 0, 60, 100).raw(cut_event)
      .track().note_on(0, 0, 64, 100).end_of_track()
      .bytes();
}

TEST(TrackReaderChunkEnd, CutMetaTypeOrLengthIsReportedInFirstAndNotePasses) {
  for (const Bytes& cut : {Bytes{0x00, 0xFF}, Bytes{0x00, 0xFF, 0x01}, Bytes{0x00, 0xFF, 0x01, 0x81}}) {
    SCOPED_TRACE(cut.size());
    Bytes file = first_track_cut_by(cut);
    EXPECT_EQ(read_first_track(file).end, ReadStatus::kMetaCut);
    test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
    EXPECT_EQ(c.result.error, ConversionError::kNone);
    EXPECT_EQ(c.result.note_count, 2);
    EXPECT_EQ(c.err, std::string(kMetaFailed) + kMetaFailed);
  }
}

TEST(TrackReaderChunkEnd, CutMetaDataEndsTrackQuietly) {
  Bytes file = first_track_cut_by({0x00, 0xFF, 0x01, 0x05, 'a', 'b'});
  EXPECT_EQ(read_first_track(file).end, ReadStatus::kTrackEnded);
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.note_count, 2);
  EXPECT_EQ(c.err, "");
}

TEST(TrackReaderChunkEnd, CutNoteOnIsReportedInNotePassOnly) {
  // Key missing, velocity missing, velocity missing under running status.
  for (const Bytes& cut : {Bytes{0x00, 0x91}, Bytes{0x00, 0x91, 0x3E}, Bytes{0x00, 0x3E}}) {
    SCOPED_TRACE(cut.size());
    Bytes file = first_track_cut_by(cut);
    EXPECT_EQ(read_first_track(file).end, ReadStatus::kNoteOnCut);
    test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
    EXPECT_EQ(c.result.error, ConversionError::kNone);
    EXPECT_EQ(c.result.note_count, 2);
    EXPECT_EQ(c.err, kNoteOnFailed);
  }
}

TEST(TrackReaderChunkEnd, CutChannelMessageEndsTrackQuietly) {
  for (const Bytes& cut :
       {Bytes{0x00, 0xB0}, Bytes{0x00, 0xB0, 0x07}, Bytes{0x00, 0xC0}, Bytes{0x00, 0xF0, 0x03, 0x7E}}) {
    SCOPED_TRACE(cut.size());
    Bytes file = first_track_cut_by(cut);
    EXPECT_EQ(read_first_track(file).end, ReadStatus::kTrackEnded);
    test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
    EXPECT_EQ(c.result.note_count, 2);
    EXPECT_EQ(c.err, "");
  }
}

}  // namespace
}  // namespace onpu
