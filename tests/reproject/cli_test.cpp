// The reproject program end to end: its output equals the plug-in run
// in-process on the same YC48 frame; videos keep frame count, rate, audio
// packets and tags; keyframes reach every frame; positioning is frame-exact
// and segments join into one run; deep inputs keep their precision; every
// failure is one line, the documented exit status and no file left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "console.h"
#include "media_input.h"
#include "reproject_run.h"

namespace {

using namespace reproject_test;

// Varnel's controls: tracks out_fov 2, azimuth 4; boxes equirect 4.
constexpr int kVarnelEquirectBox = 4;

std::string Probe(const std::string& args, const std::string& file) {
  const std::string out = Path("probe.txt");
  if (!Shell("ffprobe -v error " + args + " '" + file + "' > '" + out + "' 2> /dev/null")) return "";
  return ReadFile(out);
}

// Round trip per plug-in: a picture through the program equals the in-process
// run with the same controls, byte for byte.
TEST(Reproject, PictureEqualsInProcessRunForEachPlugin) {
  struct Case {
    const char* plugin;
    std::string options;
    std::vector<std::pair<int, int>> tracks;  // index, value
    std::vector<int> checks;                  // ticked boxes
  };
  const Case cases[] = {
      {"Varnel", "--input equirect --azimuth 30.5 --pitch -15 --out-fov 100 --bilinear",
       {{4, 305}, {3, -150}, {2, 1000}}, {4, 9}},
      {"Oskuda", "--input equirect --pitch 90 --square --circle-mask --green", {{3, 900}}, {4, 5, 6, 7}},
      {"Trimbel", "--pitch 30 --azimuth -45 --roll 10 --bilinear --use-height --height 100",
       {{2, 300}, {3, -450}, {4, 100}, {7, 100}}, {0, 7}},
  };
  const std::vector<Picture> in = ReadPictures(Media("scene.png"));
  ASSERT_EQ(in.size(), 1u);
  for (const Case& c : cases) {
    std::string name = c.plugin;
    for (char& ch : name) ch = static_cast<char>(std::tolower(ch));
    const std::string out = Path("rt-" + name + ".png");
    std::vector<std::string> args = {name};
    std::string word;
    for (std::istringstream words(c.options); words >> word;) args.push_back(word);
    args.insert(args.end(), {Media("scene.png"), out});
    const Outcome o = RunReproject(args);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<Picture> got = ReadPictures(out);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0] == ThroughRgb8(RunInProcess(c.plugin, in[0], c.tracks, c.checks, 512, 512))) << c.plugin;
  }
}

// A capacity smaller than the output the controls ask for limits it, as in the
// editor, and the program says so once; the default never limits.
TEST(Reproject, SmallCapacityLimitsTheOutputWithANote) {
  const std::string scene = Media("scene.png");
  Outcome o = RunReproject({"varnel", "--input", "equirect", "--use-height", "--height", "200", "--max-size", "256x150",
                   scene, Path("limited.png")});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("limited to 256x150 by --max-size; the controls ask for 400x200"), std::string::npos) << o.err;
  std::vector<Picture> got = ReadPictures(Path("limited.png"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].w, 256);
  EXPECT_EQ(got[0].h, 150);
  ASSERT_EQ(RunReproject({"varnel", "--input", "equirect", "--use-height", "--height", "200", scene, Path("full.png")}).status, 0);
  got = ReadPictures(Path("full.png"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].w, 400);
  EXPECT_EQ(got[0].h, 200);
}

// A video: every frame, the rate and the audio kept; a keyframed azimuth
// reaches each frame with the interpolated value (through a lossless codec).
TEST(Reproject, VideoWithKeyframedAzimuth) {
  const std::string clip = Media("clip.mp4");
  Outcome o = RunReproject({"varnel", "--input", "equirect", "--out-fov", "120", "--azimuth", "0@0,70@7", clip, Path("pan.mp4")});
  ASSERT_EQ(o.status, 0) << o.err;
  std::string error;
  auto reader = reproject::MediaReader::Open(Path("pan.mp4"), &error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(reader->info().frame_count, 8);
  EXPECT_EQ(reader->info().frame_rate.num, 25);
  EXPECT_EQ(reader->info().frame_rate.den, 1);
  EXPECT_TRUE(reader->info().has_audio);

  o = RunReproject({"varnel", "--input", "equirect", "--out-fov", "120", "--azimuth", "0@0,70@7", "--codec", "ffv1",
           "--start", "2", "--frames", "5", clip, Path("pan.mkv")});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<Picture> in = ReadPictures(clip);
  const std::vector<Picture> got = ReadPictures(Path("pan.mkv"));
  ASSERT_EQ(in.size(), 8u);
  ASSERT_EQ(got.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    const int frame = 2 + k;
    const int azimuth = 100 * frame;  // 10 degrees per frame
    EXPECT_TRUE(got[k] == ThroughRgb8(RunInProcess("Varnel", in[frame], {{2, 1200}, {4, azimuth}},
                                                   {kVarnelEquirectBox}, 256, 128))) << frame;
    // A neighbouring azimuth differs, so the check has teeth.
    EXPECT_FALSE(got[k] == ThroughRgb8(RunInProcess("Varnel", in[frame], {{2, 1200}, {4, azimuth + 100}},
                                                    {kVarnelEquirectBox}, 256, 128)));
  }
}

// Every failure: one line naming the file or option, the documented status,
// and neither the output nor a temporary file left.
TEST(Reproject, FailuresAreOneLineWithStatusAndNoFileLeft) {
  const std::string scene = Media("scene.png");
  const std::string clip = Media("clip.mp4");
  std::ofstream(Path("empty.png")).close();
  const std::string bytes = ReadFile(scene);
  std::ofstream(Path("truncated.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  std::ofstream(Path("notes.txt")) << "not a picture\n";
  std::ofstream(Path("existing.png")) << "keep me";
  const std::string out = Path("out.png");
  const std::string mp4 = Path("out.mp4");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"varnel", Path("missing.png"), out}, 1, "missing.png: cannot read input"},
      {{"varnel", Path("empty.png"), out}, 1, "empty.png: cannot read input"},
      {{"varnel", Path("truncated.png"), out}, 1, "truncated.png:"},
      {{"varnel", Path("notes.txt"), out}, 1, "notes.txt: cannot read input"},
      {{"varnel", scene, Path("out.xyz")}, 2, "out.xyz: cannot tell the output format"},
      {{"varnel", scene, Path("no-such-folder/out.png")}, 1, "cannot write in folder"},
      {{"varnel", scene, Path("existing.png")}, 1, "existing.png: already exists (use -y to overwrite)"},
      {{"varnel", "--azimuth", "200", scene, out}, 2, "--azimuth 200: out of range; allowed -180.0..180.0"},
      {{"varnel", "--fisheye", scene, out}, 2, "unknown option --fisheye"},
      {{"--azimuth", "10", "varnel", scene, out}, 2, "unknown option --azimuth before PLUGIN"},
      {{"nosuchplugin", scene, out}, 2, "unknown plug-in 'nosuchplugin'"},
      {{Path("notes.txt"), scene, out}, 1, "cannot load plug-in"},
      {{"varnel", clip, out}, 2, "a picture holds one frame"},
      {{"varnel", "--start", "50", clip, mp4}, 2, "--start 50: the input has only 8 frames"},
      {{"varnel", scene}, 2, "expected INPUT and OUTPUT"},
      // Encoders and formats that do not fit are bad usage, found before any work.
      {{"varnel", "--codec", "libx264", scene, out}, 2, "--codec libx264: " + out + " is a picture file"},
      {{"varnel", "--codec", "ffv1", scene, out}, 2, "--codec ffv1:"},
      {{"varnel", "--codec", "nosuch", clip, mp4}, 2, "--codec nosuch: no such encoder"},
      {{"varnel", "--codec", "aac", clip, mp4}, 2, "--codec aac: not a video encoder"},
      {{"varnel", "--pix-fmt", "rgb24", clip, mp4}, 2, "--pix-fmt rgb24: libx264 takes yuv420p"},
      {{"varnel", "--pix-fmt", "nosuch", clip, mp4}, 2, "--pix-fmt nosuch: no such pixel format"},
      {{"varnel", "--preset", "fastest", clip, mp4}, 2, "--preset fastest: allowed ultrafast"},
      {{"varnel", "--codec", "ffv1", "--preset", "slow", clip, Path("out.mkv")}, 2, "only libx264 and libx265"},
      {{"varnel", "--bitrate", "lots", clip, mp4}, 2, "--bitrate lots: expected bits per second"},
      {{"varnel", "--audio-codec", "copy", Media("pcm.mov"), mp4}, 2, "the mp4 container cannot hold the input's pcm_s16le"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    const Outcome o = RunReproject(c.args);
    ExpectCleanFailure(o, c.status, c.args.back() == out || c.args.back() == mp4 ? c.args.back() : out, shown);
    EXPECT_NE(o.err.find(c.message), std::string::npos) << shown << "\n" << o.err;
  }
  EXPECT_EQ(ReadFile(Path("existing.png")), "keep me");
  EXPECT_EQ(RunReproject({"varnel", "-y", scene, Path("existing.png")}).status, 0);  // -y replaces it
  EXPECT_EQ(ReadPictures(Path("existing.png")).size(), 1u);
}

// Host options may come before the plug-in; -q leaves stderr empty unless the
// run fails (notes and encoder logs included), and a control that does
// nothing without its box says so.
TEST(Reproject, QuietMeansSilentAndIdleControlsAreNamed) {
  const std::string scene = Media("scene.png");
  Outcome o = RunReproject({"varnel", "--height", "100", "-y", scene, Path("q.png")});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("--height has no effect without --use-height"), std::string::npos) << o.err;
  o = RunReproject({"trimbel", "--in-fov", "120", "-y", scene, Path("q.png")});
  EXPECT_NE(o.err.find("--in-fov has no effect on an equirect input"), std::string::npos) << o.err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-q", "varnel", "--height", "100", "-y", scene, Path("q.png")},
        std::vector<std::string>{"-q", "-y", "varnel", "--codec", "libx265", Media("clip.mp4"), Path("q.mp4")}}) {
    o = RunReproject(args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
  }
}

// A failure while a progress line is on a terminal starts a line of its own.
TEST(Reproject, ErrorAfterProgressIsOnItsOwnLine) {
  std::FILE* saved = std::tmpfile();
  const int old = dup(2);
  dup2(fileno(saved), 2);
  {
    reproject::Console console(false, true);
    console.Progress(3, 10, true);
    console.Progress(4, 10);
    console.Error("it broke");
  }
  std::fflush(stderr);
  dup2(old, 2);
  close(old);
  std::rewind(saved);
  char buffer[512] = {0};
  const std::size_t n = std::fread(buffer, 1, sizeof(buffer) - 1, saved);
  std::fclose(saved);
  const std::string text(buffer, n);
  EXPECT_NE(text.find("\nreproject: it broke\n"), std::string::npos) << text;
}

// Input names: a file whose name has a % in it is that file; - and pipe:0 are
// read once (audio included); numbered pictures go in and come out, the
// output numbered by input frame, and --start reaches into a sequence.
TEST(Reproject, InputNamesPipesAndPictureSequences) {
  const std::string scene = Media("scene.png");
  Shell("cp '" + scene + "' '" + Path("p%d.png") + "'");
  ASSERT_EQ(RunReproject({"varnel", "-y", Path("p%d.png"), Path("literal.png")}).status, 0);
  ASSERT_EQ(RunReproject({"varnel", "-y", scene, Path("named.png")}).status, 0);
  EXPECT_EQ(ReadFile(Path("literal.png")), ReadFile(Path("named.png")));

  Limits from_pipe;
  from_pipe.stdin_path = Media("clip.mp4");
  for (const char* name : {"-", "pipe:0"}) {
    const Outcome o = RunReproject({"varnel", "-y", "--codec", "ffv1", name, Path("piped.mkv")}, from_pipe);
    ASSERT_EQ(o.status, 0) << name << ": " << o.err;
    const std::string streams = Probe("-count_packets -show_entries stream=codec_type,nb_read_packets -of csv=p=0",
                                      Path("piped.mkv"));
    EXPECT_NE(streams.find("video,8"), std::string::npos) << streams;
    EXPECT_NE(streams.find("audio,"), std::string::npos) << streams;
  }

  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=64x32:rate=10 -frames:v 12 '" +
                    Path("seq%04d.png") + "'"));
  Shell("mkdir -p '" + Path("numbered") + "'");
  const Outcome o = RunReproject({"varnel", "--input", "equirect", "--start", "3", Path("seq%04d.png"),
                         Path("numbered/out%04d.png")});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<Picture> in = ReadPictures(Path("seq%04d.png"));
  ASSERT_EQ(in.size(), 12u);
  for (int frame = 0; frame < 12; ++frame) {
    char name[64];
    std::snprintf(name, sizeof(name), "numbered/out%04d.png", frame);
    ASSERT_EQ(Exists(Path(name)), frame >= 3) << name;
    if (frame < 3) continue;
    const std::vector<Picture> got = ReadPictures(Path(name));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0] == ThroughRgb8(RunInProcess("Varnel", in[frame], {}, {kVarnelEquirectBox}, 128, 64))) << name;
  }
  // A picture that exists stops the run, and the pictures it wrote go.
  Shell("rm -f '" + Path("numbered") + "'/*; touch '" + Path("numbered/out0005.png") + "'");
  const Outcome stopped = RunReproject({"varnel", Path("seq%04d.png"), Path("numbered/out%04d.png")});
  EXPECT_EQ(stopped.status, 1) << stopped.err;
  EXPECT_NE(stopped.err.find("out0005.png: already exists"), std::string::npos) << stopped.err;
  EXPECT_EQ(Probe("", Path("numbered/out0005.png")), "");  // the user's file is still the empty one
  EXPECT_FALSE(Exists(Path("numbered/out0000.png")));
  EXPECT_TRUE(Leftovers(Path("numbered")).empty());
}

// Audio: every packet of a copied stream, the encoder's priming one
// included, with the same bytes; a container that counts frames (AVI) has the
// input's rate and one entry a frame; audio a container cannot hold is
// re-encoded, not dropped.
TEST(Reproject, AudioPacketsAndFrameCounts) {
  const std::string clip = Media("clip.mp4");
  ASSERT_EQ(RunReproject({"varnel", "-y", clip, Path("audio.mp4")}).status, 0);
  // The bytes of each packet (the priming packet's skip is kept by the
  // container's edit list rather than as packet side data).
  const auto hashes = [](const std::string& file) {
    std::vector<std::string> md5;
    const std::string text = Probe("-select_streams a -show_packets -show_data_hash md5", file);
    for (std::size_t at = text.find("data_hash="); at != std::string::npos; at = text.find("data_hash=", at + 1))
      md5.push_back(text.substr(at, text.find('\n', at) - at));
    return md5;
  };
  const std::vector<std::string> in = hashes(clip);
  EXPECT_GT(in.size(), 10u);
  EXPECT_EQ(hashes(Path("audio.mp4")), in);

  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=128x64:rate=10:duration=3 -f lavfi "
                    "-i sine=duration=3 -c:v libx264 -c:a aac -shortest '" + Path("ten.mp4") + "'"));
  ASSERT_EQ(RunReproject({"varnel", "-y", Path("ten.mp4"), Path("ten.avi")}).status, 0);
  EXPECT_EQ(Probe("-select_streams v -count_frames -show_entries stream=r_frame_rate,nb_frames,nb_read_frames -of csv=p=0",
                  Path("ten.avi")), "10/1,30,30\n");

  const Outcome o = RunReproject({"varnel", "-y", Media("pcm.mov"), Path("pcm.mp4")});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("re-encoded as aac"), std::string::npos) << o.err;
  EXPECT_NE(Probe("-show_entries stream=codec_name -of csv=p=0", Path("pcm.mp4")).find("aac"), std::string::npos);
}

// --start positions at the key frame before the frame and decodes on to it:
// the same frame, time and picture as decoding from the start, with fewer
// frames decoded, in MP4 and Matroska.
TEST(Reproject, StartIsFrameExactWithoutDecodingEverything) {
  const std::string mp4 = Media("long.mp4");
  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -i '" + mp4 + "' -c copy '" + Path("long.mkv") + "'"));
  for (const std::string& file : {mp4, Path("long.mkv")}) {
    std::string error;
    auto all = reproject::MediaReader::Open(file, &error);
    ASSERT_TRUE(all) << error;
    reproject::VideoFrame frame;
    std::vector<std::int64_t> times;
    while (all->Next(&frame, &error) > 0) times.push_back(frame.pts);
    ASSERT_EQ(times.size(), 500u) << file;
    for (long target : {1L, 259L, 480L, 499L}) {
      auto reader = reproject::MediaReader::Open(file, &error);
      ASSERT_TRUE(reader && reader->SeekToFrame(target, &error)) << error;
      ASSERT_EQ(reader->Next(&frame, &error), 1) << error;
      EXPECT_EQ(frame.index, target) << file;
      EXPECT_EQ(frame.pts, times[target]) << file << " frame " << target;
      if (target >= 259) {
        EXPECT_LT(reader->decoded_frames(), target) << file;
      }
    }
  }
  // The picture too, through the program.
  ASSERT_EQ(RunReproject({"varnel", "-y", "--codec", "ffv1", "--start", "480", "--frames", "2", mp4, Path("late.mkv")}).status, 0);
  const std::vector<Picture> late = ReadPictures(Path("late.mkv"));
  ASSERT_EQ(RunReproject({"varnel", "-y", "--codec", "ffv1", "--start", "478", "--frames", "4", mp4, Path("early.mkv")}).status, 0);
  const std::vector<Picture> early = ReadPictures(Path("early.mkv"));
  ASSERT_EQ(late.size(), 2u);
  ASSERT_EQ(early.size(), 4u);
  EXPECT_TRUE(late[0] == early[2]);
  EXPECT_TRUE(late[1] == early[3]);
}

// Segments of a long job (--start/--frames) joined with the concat demuxer
// give the frames of one run, and every audio packet once, within one packet
// of its time in the single run.
TEST(Reproject, SegmentsJoinIntoOneRun) {
  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=128x64:rate=10:duration=3 -f lavfi "
                    "-i sine=duration=3 -c:v libx264 -c:a aac -shortest '" + Path("whole.mp4") + "'"));
  const std::vector<std::string> common = {"varnel", "-q", "-y", "--input", "equirect", "--codec", "ffv1"};
  std::vector<std::string> args = common;
  args.insert(args.end(), {Path("whole.mp4"), Path("single.mkv")});
  ASSERT_EQ(RunReproject(args).status, 0);
  std::string parts;
  for (int start : {0, 10, 20}) {
    args = common;
    const std::string part = Path("part" + std::to_string(start) + ".mkv");
    args.insert(args.end(), {"--start", std::to_string(start), "--frames", "10", Path("whole.mp4"), part});
    ASSERT_EQ(RunReproject(args).status, 0);
    parts += " '" + part + "'";
  }
  ASSERT_TRUE(Shell("bash " + std::string(SOURCE_DIR) + "/scripts/join-segments.sh '" + Path("joined.mkv") + "'" + parts +
                    " > /dev/null"));
  const std::vector<Picture> single = ReadPictures(Path("single.mkv"));
  EXPECT_EQ(single.size(), 30u);
  EXPECT_TRUE(single == ReadPictures(Path("joined.mkv")));
  const std::string packets = "-select_streams a -show_packets -show_data_hash md5 -show_entries packet=pts_time,data_hash -of csv=p=0";
  std::istringstream a(Probe(packets, Path("single.mkv"))), b(Probe(packets, Path("joined.mkv")));
  std::string la, lb;
  int count = 0;
  double worst = 0.0;
  while (std::getline(a, la) && std::getline(b, lb)) {
    ++count;
    EXPECT_EQ(la.substr(la.find(',')), lb.substr(lb.find(','))) << "packet " << count;
    worst = std::max(worst, std::fabs(std::stod(la) - std::stod(lb)));
  }
  EXPECT_FALSE(std::getline(b, lb)) << "the joined file has more audio packets";
  EXPECT_GT(count, 100);
  EXPECT_LE(worst, 1024.0 / 44100.0 + 0.001);  // one AAC packet, and Matroska's millisecond
}

// The 360 tag on panoramas in MP4, MOV and MKV and on nothing else; tags and
// colour kept; a display rotation applied, not written; a tagged 360 input
// read as a panorama without --input.
TEST(Reproject, TagsRotationAndTheSphericalMark) {
  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=256x128:rate=10:duration=0.5 -c:v libx264 "
                    "-metadata title='My pano' -metadata:s:v language=fra '" + Path("tagged.mp4") + "'"));
  for (const char* ext : {"mp4", "mov", "mkv"}) {
    const std::string pano = Path(std::string("pano.") + ext);
    ASSERT_EQ(RunReproject({"trimbel", "-y", Path("tagged.mp4"), pano}).status, 0) << ext;
    const std::string streams = Probe("-show_streams -show_format", pano);
    EXPECT_NE(streams.find("projection=equirectangular"), std::string::npos) << ext;
    EXPECT_NE(streams.find("TAG:title=My pano"), std::string::npos) << ext;
    EXPECT_NE(streams.find("TAG:language=fra"), std::string::npos) << ext;
  }
  ASSERT_EQ(RunReproject({"varnel", "-y", Path("tagged.mp4"), Path("view.mp4")}).status, 0);
  EXPECT_EQ(Probe("-show_streams", Path("view.mp4")).find("Spherical"), std::string::npos);

  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -i '" + Path("tagged.mp4") + "' -c copy -metadata:s:v:0 rotate=90 '" +
                    Path("turned.mp4") + "'"));
  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -i '" + Path("turned.mp4") + "' -c:v ffv1 '" + Path("upright.mkv") + "'"));
  ASSERT_EQ(RunReproject({"trimbel", "-y", "--codec", "ffv1", Path("turned.mp4"), Path("turned.mkv")}).status, 0);
  ASSERT_EQ(RunReproject({"trimbel", "-y", "--codec", "ffv1", Path("upright.mkv"), Path("upright-out.mkv")}).status, 0);
  const std::vector<Picture> turned = ReadPictures(Path("turned.mkv"));
  ASSERT_FALSE(turned.empty());
  EXPECT_EQ(turned[0].w, 128);
  EXPECT_EQ(turned[0].h, 256);
  EXPECT_EQ(Probe("-show_streams", Path("turned.mkv")).find("rotation"), std::string::npos);
  // ffmpeg's own turning of the picture gives the same luma.
  const std::vector<Picture> upright = ReadPictures(Path("upright-out.mkv"));
  ASSERT_EQ(upright.size(), turned.size());
  long differing = 0;
  for (std::size_t i = 0; i < upright[0].yc.size(); ++i) differing += upright[0].yc[i].y != turned[0].yc[i].y;
  EXPECT_EQ(differing, 0);

  const Outcome o = RunReproject({"varnel", "-y", "--frames", "1", Path("pano.mp4"), Path("auto.png")});
  EXPECT_NE(o.err.find("tagged as a 360-degree equirectangular video"), std::string::npos) << o.err;
  ASSERT_EQ(RunReproject({"varnel", "-y", "--frames", "1", "--input", "equirect", Path("pano.mp4"), Path("explicit.png")}).status, 0);
  EXPECT_EQ(ReadFile(Path("auto.png")), ReadFile(Path("explicit.png")));
}

// 16-bit pictures keep their precision: a grey gradient through the identity
// panorama comes back within one YC48 step, where the 8-bit path is about 16
// times coarser; a video of more than 8 bits becomes 10-bit H.265.
TEST(Reproject, DeepInputsKeepTheirPrecision) {
  const int w = 512, h = 64;
  std::string raw;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const int v = c * 128 + 2 * r;  // grey, every 16-bit level apart from its neighbours
      for (int k = 0; k < 3; ++k) raw += {static_cast<char>(v & 255), static_cast<char>(v >> 8)};
    }
  }
  std::ofstream(Path("deep.rgb48"), std::ios::binary) << raw;
  const std::string make = "ffmpeg -v error -nostdin -y -f rawvideo -pix_fmt rgb48le -s " + std::to_string(w) + "x" +
                           std::to_string(h) + " -i '" + Path("deep.rgb48") + "' ";
  ASSERT_TRUE(Shell(make + "-pix_fmt rgb48be '" + Path("deep.png") + "'"));
  ASSERT_TRUE(Shell(make + "-pix_fmt rgb24 '" + Path("shallow.png") + "'"));
  const std::vector<Picture> original = ReadPictures(Path("deep.png"));
  ASSERT_EQ(original.size(), 1u);
  int worst[2] = {0, 0};
  const char* inputs[2] = {"deep.png", "shallow.png"};
  for (int k = 0; k < 2; ++k) {
    const std::string out = Path(std::string("out-") + inputs[k]);
    ASSERT_EQ(RunReproject({"trimbel", "-y", Path(inputs[k]), out}).status, 0);
    EXPECT_EQ(Probe("-show_entries stream=pix_fmt -of csv=p=0", out), k == 0 ? "rgb48be\n" : "rgb24\n");
    const std::vector<Picture> back = ReadPictures(out);
    ASSERT_EQ(back.size(), 1u);
    // Rows 1 .. h - 2: the identity panorama copies them (the pole rows are
    // seen differently).
    for (int r = 1; r < h - 1; ++r) {
      for (int c = 0; c < w; ++c) {
        const PIXEL_YC a = original[0].yc[r * w + c], b = back[0].yc[r * w + c];
        worst[k] = std::max({worst[k], std::abs(a.y - b.y), std::abs(a.cb - b.cb), std::abs(a.cr - b.cr)});
      }
    }
  }
  std::printf("16-bit gradient through the identity panorama: worst YC48 error %d (16-bit path), %d (8-bit path)\n",
              worst[0], worst[1]);
  EXPECT_LE(worst[0], 1);
  EXPECT_GE(worst[1], 10 * std::max(worst[0], 1));

  ASSERT_TRUE(Shell("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=128x64:rate=10:duration=0.5 -pix_fmt yuv420p10le "
                    "-c:v libx265 -x265-params log-level=none '" + Path("ten-bit.mkv") + "'"));
  const Outcome o = RunReproject({"varnel", "-y", Path("ten-bit.mkv"), Path("ten-bit-out.mkv")});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("writing 10-bit H.265 (Main 10)"), std::string::npos) << o.err;
  EXPECT_EQ(Probe("-show_entries stream=codec_name,profile,pix_fmt -of csv=p=0", Path("ten-bit-out.mkv")),
            "hevc,Main 10,yuv420p10le\n");
}

}  // namespace
