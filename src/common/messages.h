// Every text the user sees on the console, in one place. printf formats;
// %s arguments are UTF-8.
#pragma once

namespace onpu::msg {

// Command line.
inline constexpr const char kCommandLineFailed[] = "コマンドライン引数の処理に失敗しました\n";
inline constexpr const char kInvalidMode[] = "エラー: 無効なモード '%s'\n";
inline constexpr const char kUsage[] =
    "使用方法: %s <midi_filename> [mode]\n"
    "  mode:\n"
    "    circle           - ヒットサークルモード（デフォルト：音程ベースの固定配置）\n"
    "    slider-vertical  - 縦流しモード（小節内で上から下に流れる配置）\n"
    "    slider-horizontal- 横流しモード（小節内で左から右に流れる配置）\n"
    "    slider           - slider-verticalの省略形\n"
    "    both             - 全モードで出力（3つのファイル生成：circle + slider-vertical + slider-horizontal）\n";
// Printed after the usage text by -h and --help only.
inline constexpr const char kOptionsHelp[] =
    "  options:\n"
    "    --osz            - 譜面セット (.osz) も作成（曲の音声とピアノ音を含む）\n"
    "    --soundfont PATH - --osz で使う SoundFont ファイル\n"
    "    --stars LIST     - 星の数 (例: 4.5 や 1.8,2.5,3.5) ごとに、その難易度で遊べる譜面 (スライダー・コンボ・休憩つき) も作成\n"
    "    --set            - --osz --stars 1.5,2.3,3.3,4.6,5.8 の省略形 (Easy から Expert まで1譜面ずつの譜面セット)\n"
    "    --out DIR        - 作成するファイルをすべて DIR に置く (DIR は既存のフォルダ)\n"
    "    --version        - バージョンを表示\n"
    "    -h, --help       - この使い方を表示\n";
// When Explorer started onpu.exe in a window of its own.
inline constexpr const char kDropHint[] =
    "MIDIファイルを onpu.exe のアイコンにドロップすると、そのフォルダに譜面セット (.osz) を作ります\n";
// A drop of files on onpu.exe: each file's set, then one line per file.
inline constexpr const char kDropFile[] = "[%d/%d] %s\n";
inline constexpr const char kDropResults[] = "\n結果:\n";
inline constexpr const char kDropDone[] = "○ %s → %s\n";
inline constexpr const char kDropDoneInWorkingFolder[] =
    "○ %s → %s (MIDIファイルのフォルダに書き込めないため、作業フォルダに作成しました)\n";
inline constexpr const char kDropFailed[] = "× %s: %s";
inline constexpr const char kDropImportHint[] =
    ".osz ファイルをダブルクリックすると、譜面セットが osu! に取り込まれます\n";
// --out.
inline constexpr const char kOutNeedsFolder[] = "エラー: --out には出力先のフォルダを指定してください\n";
inline constexpr const char kOutMissing[] = "エラー: 出力先のフォルダがありません: %s\n";
inline constexpr const char kOutNotWritable[] = "エラー: 出力先のフォルダに書き込めません: %s\n";
inline constexpr const char kPressAnyKey[] = "何かキーを押すと終了します...\n";
inline constexpr const char kModeVertical[] = "モード: 縦流しモード\n";
inline constexpr const char kModeHorizontal[] = "モード: 横流しモード\n";
inline constexpr const char kModeCircle[] = "モード: ヒットサークルモード\n";
inline constexpr const char kModeBoth[] =
    "モード: 全モード（3つのファイル生成：circle + slider-vertical + slider-horizontal）\n";
inline constexpr const char kModeDefault[] = "モード: ヒットサークルモード（デフォルト）\n";
inline constexpr const char kOutputFile[] = "出力ファイル: %s\n";
inline constexpr const char kOutputFileNumbered[] = "出力ファイル%d: %s\n";
inline constexpr const char kOszUnsupported[] =
    "エラー: このビルドは --osz に対応していません (FluidSynth, LAME, libzip なしでビルドされました)\n";
inline constexpr const char kOszModuleUnloadable[] = "エラー: --osz の音声モジュールを読み込めません: %s\n";
inline constexpr const char kSoundfontNeedsPath[] = "エラー: --soundfont にはファイル名が必要です\n";
inline constexpr const char kOszFile[] = "譜面セット: %s\n";
inline constexpr const char kStarsNeedList[] =
    "エラー: --stars には星の数を指定してください (例: --stars 4.5 または --stars 1.8,2.5,3.5,4.8,6)\n";
inline constexpr const char kStarsEmptyItem[] = "エラー: --stars の一覧に空の項目があります: '%s'\n";
inline constexpr const char kStarsNotNumber[] = "エラー: --stars の '%s' は数ではありません\n";
inline constexpr const char kStarsOutOfRange[] = "エラー: --stars の %s は範囲外です (0.5 から 12 まで)\n";

// Conversion run.
inline constexpr const char kCannotOpenMidi[] = "エラー: MIDIファイルを開けません: %s\n";
inline constexpr const char kAnalysing[] = "MIDIファイルを解析中: %s\n";
inline constexpr const char kInvalidMidi[] = "エラー: 無効なMIDIファイルです\n";
inline constexpr const char kHeaderLine[] = "MIDIフォーマット: %d, トラック数: %d\n";
inline constexpr const char kCannotCreateOsu[] = "エラー: osuファイルを作成できません: %s\n";
inline constexpr const char kCannotWriteOsu[] = "エラー: osuファイルの書き込みに失敗しました: %s\n";
inline constexpr const char kExtractingNotes[] = "ノート情報を抽出してファイルに書き込み中...\n";
inline constexpr const char kSummary[] = "変換完了: 合計 %d ノート, %d テンポ変更\n";
inline constexpr const char kCreated[] = "osu譜面ファイルを作成しました: %s\n";
// A thinned map: its target, its file name, its rating; the last %s is
// kThinnedMapToppedOut when even every moment of the song rates below the
// target, else empty.
inline constexpr const char kThinnedMap[] = "難易度 %.2f★: %s → %.2f★%s\n";
inline constexpr const char kThinnedMapToppedOut[] = " (この曲の最高)";
// The beats the maps for play follow: the file's own, or ones inferred from
// a performance (the range of tempo found, the most common meter).
inline constexpr const char kTimingKept[] = "拍: ファイルのテンポと拍子をそのまま使います\n";
inline constexpr const char kTimingInferred[] = "拍: 演奏から推定しました (%.0f〜%.0f BPM, %d 拍子)\n";
// A set's target above the song's top, left out: its top map is written already.
inline constexpr const char kThinnedMapAboveTop[] = "難易度 %.2f★: この曲の最高を超えるため作成しません\n";

// Track scanning.
inline constexpr const char kInvalidTrackHeader[] = "エラー: トラック %d に無効なヘッダーがあります\n";
inline constexpr const char kReadFailed[] = "エラー: ファイルの読み込みに失敗しました\n";
inline constexpr const char kMetaReadFailed[] = "エラー: メタイベントの読み込みに失敗しました\n";
inline constexpr const char kNoteOnReadFailed[] = "エラー: ノートオンイベントの読み込みに失敗しました\n";

// Tempo map.
inline constexpr const char kCollectingTempo[] = "テンポ情報を収集中... (初期値: 120 BPM)\n";
inline constexpr const char kTempoFound[] = "テンポ変更を検出: tick=%llu, tempo=%u (0x%X), BPM=%.2f\n";
inline constexpr const char kTempoFormula[] = "  計算: 60000000 / %u = %.6f BPM\n";
inline constexpr const char kTempoZeroIgnored[] = "警告: テンポ値 0 を無視しました: tick=%llu\n";
inline constexpr const char kTimeSignatureFound[] = "拍子記号を検出: tick=%llu, %d/%d拍子\n";

// Measure grid and placement.
inline constexpr const char kMeasureHeading[] = "小節情報:\n";
inline constexpr const char kMeasureLine[] = "  小節%d: %dms-%dms, BPM=%.2f\n";
inline constexpr const char kDebugInMeasure[] =
    "sliderモード(小節内): note=%d, time=%d, measure=%d-%d, base_y=%d, final_y=%d\n";
inline constexpr const char kDebugGlobal[] =
    "sliderモード(グローバル): time=%d, max_time=%d, progress=%.3f, final_y=%d\n";
inline constexpr const char kProgress[] = "変換済ノート数: %d\n";

}  // namespace onpu::msg
