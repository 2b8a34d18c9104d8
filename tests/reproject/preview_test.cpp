// reproject preview: the state a page sends and the command line it shows
// read back as the same conversion; bad values, tokens, hosts and output
// names refused with one clear line while the server keeps serving; the
// page's lossless frame of a keyed video equals what its conversion writes;
// a cancelled conversion leaves nothing; stale views are dropped.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "render.h"
#include "reproject_run.h"
#include "server.h"

namespace {

using namespace reproject;
using namespace reproject::preview;
using reproject_test::Media;
using reproject_test::Path;

std::vector<PluginEntry> Plugins(const std::string& chosen) {
  std::vector<PluginEntry> plugins;
  std::string error;
  EXPECT_TRUE(LoadPlugins(chosen, LENS_PLUGIN_DIR, &plugins, &error)) << error;
  return plugins;
}

bool Finished(const std::string& status) { return status.find("\"running\":false") != std::string::npos; }

// A preview server on `args` writing into a folder of its own, and a client.
struct Served {
  std::string folder;
  std::unique_ptr<PreviewServer> server;
  std::unique_ptr<httplib::Client> client;

  explicit Served(const std::vector<std::string>& args) {
    folder = Path("served-" + std::to_string(Counter()++));
    EXPECT_EQ(mkdir(folder.c_str(), 0755), 0);
    PreviewSettings settings;
    std::string error;
    EXPECT_TRUE(ParsePreviewArgs(args, &settings, &error, LENS_PLUGIN_DIR)) << error;
    settings.folder = folder;
    settings.open_browser = false;
    server = PreviewServer::Start(std::move(settings), &error);
    EXPECT_TRUE(server) << error;
    client.reset(new httplib::Client("127.0.0.1", server->port()));
    client->set_read_timeout(60, 0);
  }
  static int& Counter() {
    static int n = 0;
    return n;
  }
  std::string With(const std::string& path) const {
    return path + (path.find('?') == std::string::npos ? "?" : "&") + "token=" + server->token();
  }
  httplib::Result Get(const std::string& path) { return client->Get(With(path).c_str()); }
  httplib::Result Post(const std::string& path) { return client->Post(With(path).c_str()); }
  // Starts a conversion from the page's parameters.
  void Convert(const std::string& query) {
    auto started = Post("/api/convert?" + query);
    ASSERT_TRUE(started);
    ASSERT_EQ(started->status, 202) << started->body;
  }
  // The conversion's status once `until` holds for it (or after half a minute).
  std::string ConversionWhen(const std::function<bool(const std::string&)>& until) {
    std::string status;
    for (int i = 0; i < 600 && !until(status); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      status = Get("/api/convert")->body;
    }
    return status;
  }
};

// One clear line of JSON: {"error":"..."} naming what was wrong.
void ExpectRefused(const httplib::Result& res, int status, const std::string& says) {
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, status) << res->body;
  EXPECT_EQ(res->body.rfind("{\"error\":", 0), 0u) << res->body;
  EXPECT_NE(res->body.find(says), std::string::npos) << res->body;
  EXPECT_EQ(res->body.find('\n'), std::string::npos) << res->body;
}

TEST(PreviewState, TheShownCommandReadsBackAsTheState) {
  // Varnel: input box, keyed angles, a box ticked, host options; Trimbel:
  // its default input chosen explicitly; Oskuda: a raw track index.
  struct Case {
    std::string plugin;
    Params params;
  };
  const Case cases[] = {
      {"varnel", {{"input", "equirect"}, {"azimuth", "0@0,90.5@120"}, {"pitch", "-20"}, {"bilinear", "1"},
                  {"use-height", "1"}, {"height", "1080"}}},
      {"trimbel", {{"input", "equidistant"}, {"roll", "12.5@3,12.5@9"}, {"width-2x1", "1"}}},
      {"oskuda", {{"track", "2=1500"}, {"check", "8=1"}, {"input", "central"}}},
  };
  for (const Case& c : cases) {
    const std::vector<PluginEntry> plugins = Plugins(c.plugin);
    ViewState state;
    std::string error;
    ASSERT_TRUE(ParseState(c.params, plugins, 0, &state, &error)) << error;
    Options base;
    base.input = "my clip.mp4";
    base.output.codec = "libx265";
    base.output.crf = 22;
    const Options want = ConversionOptions(state, base, "-out's.mkv", true, false);
    const std::vector<std::string> args = CommandArgs(c.plugin, state.plugin->controls, want);

    std::string plugin;
    std::vector<std::string> rest;
    Options got;
    ASSERT_TRUE(FindPlugin(args, &plugin, &rest, &error)) << error;
    ASSERT_TRUE(ParseOptions(rest, state.plugin->controls, &got, &error)) << ShellLine(args) << ": " << error;
    EXPECT_EQ(plugin, c.plugin);
    EXPECT_EQ(got.values.checks, state.values.checks) << ShellLine(args);
    for (const TrackControl& t : state.plugin->controls.tracks)
      EXPECT_EQ(FormatCurve(got.values.tracks[t.index], 1), FormatCurve(state.values.tracks[t.index], 1))
          << ShellLine(args);
    EXPECT_EQ(got.input, base.input);
    EXPECT_EQ(got.output.path, "-out's.mkv");
    EXPECT_EQ(got.output.codec, "libx265");
    EXPECT_EQ(got.output.crf, 22);
    EXPECT_TRUE(got.overwrite);

    // The line a shell reads gives the same words.
    const std::string printed = Path("words.txt");
    ASSERT_TRUE(reproject_test::Shell("printf '%s\\n' " + ShellLine(args) + " > '" + printed + "'"));
    std::string expected;
    for (const std::string& a : args) expected += a + "\n";
    EXPECT_EQ(reproject_test::ReadFile(printed), expected);
  }
  // Only what differs from the defaults is written.
  const std::vector<PluginEntry> plugins = Plugins("varnel");
  ViewState state;
  std::string error;
  ASSERT_TRUE(ParseState({{"pitch", "0@0,0.0@9"}, {"azimuth", "5@0,5@10"}}, plugins, 0, &state, &error)) << error;
  Options base;
  base.input = "in.png";
  EXPECT_EQ(ShellLine(CommandArgs("varnel", state.plugin->controls, ConversionOptions(state, base, "o.png", false, false))),
            "varnel --azimuth 5.0 in.png o.png");
}

TEST(PreviewState, BadValuesAreOneClearLine) {
  const std::vector<PluginEntry> plugins = Plugins("varnel");
  // Out of range, not a number, not a control; then the page's own fields.
  const std::pair<std::string, std::string> cases[] = {
      {"azimuth=181", "--azimuth 181: out of range; allowed -180.0..180.0 degrees"},
      {"pitch=1@0,200@5", "--pitch 1@0,200@5: out of range"},
      {"out-fov=wide", "--out-fov wide: not a number"},
      {"azimuth=1.25", "not a number with at most one decimal"},
      {"height=", "--height : not a number"},
      {"zoom=2", "unknown control 'zoom' for varnel"},
      {"bilinear=yes", "--bilinear yes: a box is 0 or 1"},
      {"input=cubemap", "--input cubemap: not an input this plug-in offers"},
      {"track=99=1", "no track bar 99"},
      {"plugin=../../lib/evil", "unknown plug-in '../../lib/evil'"},
      {"frame=-1", "frame -1: expected a frame number"},
      {"frame=8", "frame 8: the input has 8 frames"},
  };
  for (const auto& [param, says] : cases) {
    const std::size_t eq = param.find('=');
    const Params params = {{param.substr(0, eq), param.substr(eq + 1)}};
    ViewState state;
    std::string error;
    EXPECT_FALSE(ParseState(params, plugins, 8, &state, &error)) << says;
    EXPECT_NE(error.find(says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(PreviewServer, InputsTheCommandLineCannotAskForAreBadUsage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"varnel", "--start", "3", Media("scene.png")},
                                               std::vector<std::string>{"varnel", "-"}}) {
    PreviewSettings settings;
    std::string error;
    ASSERT_TRUE(ParsePreviewArgs(args, &settings, &error, LENS_PLUGIN_DIR)) << error;
    settings.open_browser = false;
    int status = kExitOk;
    EXPECT_EQ(PreviewServer::Start(std::move(settings), &error, &status), nullptr);
    EXPECT_EQ(status, kExitUsage) << error;
  }
}

TEST(PreviewState, OutputNamesStayInTheWorkingFolder) {
  const std::string folder = Path("names");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(symlink("/tmp/elsewhere.png", (folder + "/link.png").c_str()), 0);
  for (const std::string bad : {"", ".", "..", "../up.png", "sub/x.png", "/tmp/abs.png", "link.png", "no-extension",
                                "tab\there.png", "x.unknownformat"}) {
    std::string error;
    EXPECT_FALSE(CheckOutputName(folder, bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  for (const std::string good : {"view.png", "pan.mp4", "frames%04d.png", "a..b.mkv", ".hidden.mov"}) {
    std::string error;
    EXPECT_TRUE(CheckOutputName(folder, good, &error)) << good << ": " << error;
  }
}

TEST(PreviewServer, TokenAndHostAreRequired) {
  Served s({"varnel", "--input", "equirect", Media("scene.png")});
  ASSERT_TRUE(s.server);
  httplib::Client& c = *s.client;
  const std::string token = s.server->token();
  ExpectRefused(c.Get("/"), 403, "access token");
  ExpectRefused(c.Get("/api/session?token=0123"), 403, "access token");
  ExpectRefused(c.Get(("/api/session?token=" + token.substr(0, 31) + "x").c_str()), 403, "access token");
  ExpectRefused(c.Get(("/api/render?token=" + token + "x").c_str()), 403, "access token");
  auto ok = c.Get(("/?token=" + token).c_str());
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_NE(ok->body.find("page.js?token=" + token), std::string::npos);
  // The token as a header does as well.
  ok = c.Get("/page.js", {{"X-Preview-Token", token}});
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);

  const std::string port = std::to_string(s.server->port());
  for (const std::string& host : std::vector<std::string>{"attacker.example:" + port, "127.0.0.1.attacker.example:" + port,
                                                          "127.0.0.1:1", "127.0.0.1", "[::1]:" + port}) {
    ExpectRefused(c.Get(("/api/session?token=" + token).c_str(), {{"Host", host}}), 403, "answers only to 127.0.0.1");
  }
  ok = c.Get(("/api/session?token=" + token).c_str(), {{"Host", "localhost:" + port}});
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
  EXPECT_EQ(TokenMatches("", ""), false);

  // Only the page's own files are served.
  for (const std::string path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/etc/passwd", "/index.html"}) {
    auto res = s.Get(path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404) << path;
    EXPECT_EQ(res->body.find("root:"), std::string::npos);
  }
}

TEST(PreviewServer, BadRequestsAreRefusedAndTheServerKeepsServing) {
  Served s({"varnel", "--input", "equirect", Media("scene.png")});
  ASSERT_TRUE(s.server);
  ExpectRefused(s.Get("/api/render?azimuth=400"), 400, "--azimuth 400: out of range; allowed -180.0..180.0 degrees");
  ExpectRefused(s.Get("/api/state?pitch=up"), 400, "--pitch up: not a number");
  ExpectRefused(s.Get("/api/render?fisheye-zoom=2"), 400, "unknown control 'fisheye-zoom'");
  ExpectRefused(s.Get("/api/render?frame=1"), 400, "frame 1: the input has 1 frame");
  ExpectRefused(s.Get("/api/render?fmt=gif"), 400, "fmt gif");
  ExpectRefused(s.Get("/api/controls?plugin=/usr/lib/x.so"), 400, "unknown plug-in");

  // Outputs: no folder part, no way up, no absolute name, no link.
  ASSERT_EQ(symlink("/tmp/preview-link-target.png", (s.folder + "/taken.png").c_str()), 0);
  for (const std::string name : {"..%2Fescaped.png", "%2Ftmp%2Fescaped.png", "sub%2Fescaped.png", "taken.png", ".."}) {
    ExpectRefused(s.Post("/api/convert?input=equirect&output=" + name), 400, "output");
  }
  EXPECT_FALSE(reproject_test::Exists(s.folder + "/../escaped.png"));
  EXPECT_FALSE(reproject_test::Exists("/tmp/escaped.png"));
  EXPECT_FALSE(reproject_test::Exists("/tmp/preview-link-target.png"));
  ExpectRefused(s.Post("/api/convert?azimuth=1000&output=fine.png"), 400, "--azimuth 1000");

  auto res = s.Get("/api/render?input=equirect&azimuth=12.5");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_NE(res->get_header_value("Server-Timing").find("total;dur="), std::string::npos);
}

// The lossless frame the page shows at a frame between two keys equals that
// frame of the conversion the page starts, and of reproject run on the
// command line the page shows.
TEST(PreviewServer, LosslessFrameOfAKeyedVideoEqualsItsConversion) {
  Served s({"trimbel", "--bilinear", Media("clip.mp4")});
  ASSERT_TRUE(s.server);
  const std::string state = "plugin=trimbel&frame=5&azimuth=-30@1,45.5@7&pitch=10&bilinear=1";
  auto png = s.Get("/api/render?fmt=png&" + state);
  ASSERT_TRUE(png);
  ASSERT_EQ(png->status, 200) << png->body;
  const std::string shown = Path("shown.png");
  std::ofstream(shown, std::ios::binary) << png->body;

  s.Convert("output=frame%25d.png&" + state);
  const std::string status = s.ConversionWhen(Finished);
  EXPECT_NE(status.find("\"status\":0"), std::string::npos) << status;
  EXPECT_NE(status.find("\"done\":8"), std::string::npos) << status;
  const auto page = reproject_test::ReadPictures(shown);
  const auto converted = reproject_test::ReadPictures(s.folder + "/frame5.png");
  ASSERT_EQ(page.size(), 1u);
  ASSERT_EQ(converted.size(), 1u);
  EXPECT_TRUE(page[0] == converted[0]);

  // The command line the page shows writes the same frame.
  auto answer = s.Get("/api/state?output=cli%25d.png&" + state);
  ASSERT_TRUE(answer);
  const std::string json = answer->body;
  const std::size_t at = json.find("\"command\":\"reproject ") + 21;
  const std::string line = json.substr(at, json.find('"', at) - at);
  EXPECT_NE(line.find("--azimuth -30.0@1,45.5@7"), std::string::npos) << line;
  ASSERT_TRUE(reproject_test::Shell("cd '" + s.folder + "' && " + REPROJECT_BIN + " -q " + line));
  const auto cli = reproject_test::ReadPictures(s.folder + "/cli5.png");
  ASSERT_EQ(cli.size(), 1u);
  EXPECT_TRUE(page[0] == cli[0]);
}

TEST(PreviewServer, CancelledConversionLeavesNothing) {
  Served s({"varnel", "--input", "equirect", "--bilinear", Media("long.mp4")});
  ASSERT_TRUE(s.server);
  s.Convert("input=equirect&output=long-view.mkv");
  ExpectRefused(s.Post("/api/convert?input=equirect&output=second.mkv"), 409, "a conversion is running");
  // Cancelled once it has written frames.
  std::string status = s.ConversionWhen(
      [](const std::string& st) { return Finished(st) || (!st.empty() && st.find("\"done\":0,") == std::string::npos); });
  EXPECT_NE(status.find("\"running\":true"), std::string::npos) << status;
  ASSERT_TRUE(s.Post("/api/convert/cancel"));
  status = s.ConversionWhen(Finished);
  EXPECT_NE(status.find("\"status\":130"), std::string::npos) << status;
  EXPECT_NE(status.find("cancelled; "), std::string::npos) << status;
  EXPECT_FALSE(reproject_test::Exists(s.folder + "/long-view.mkv"));
  EXPECT_TRUE(reproject_test::Leftovers(s.folder).empty());
}

// While one view renders, views asked for after it replace each other, and
// input pictures likewise; lossless frames are never dropped.
TEST(PreviewRender, NewerRequestsReplaceWaitingOnesOfTheirKind) {
  using Kind = RenderQueue::Kind;
  RenderQueue queue{Options()};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> ran{0};
  std::string error;
  auto first = std::async(std::launch::async, [&] {
    return queue.Run([&](FrameRenderer&, std::string*) { released.wait(); return true; }, Kind::kView, &error);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Kind kinds[] = {Kind::kView, Kind::kInput, Kind::kKept, Kind::kView, Kind::kInput, Kind::kKept};
  std::vector<std::future<RenderQueue::Outcome>> later;
  for (Kind kind : kinds) {
    later.push_back(std::async(std::launch::async, [&, kind] {
      std::string e;
      return queue.Run([&](FrameRenderer&, std::string*) { ++ran; return true; }, kind, &e);
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  release.set_value();
  using O = RenderQueue::Outcome;
  EXPECT_EQ(first.get(), O::kDone);
  const O expected[] = {O::kSuperseded, O::kSuperseded, O::kDone, O::kDone, O::kDone, O::kDone};
  for (std::size_t i = 0; i < later.size(); ++i) EXPECT_EQ(later[i].get(), expected[i]) << i;
  EXPECT_EQ(ran.load(), 4);
}

}  // namespace
