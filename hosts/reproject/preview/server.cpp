#include "server.h"

#include <httplib.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "assets.h"
#include "conversion.h"
#include "output_file.h"
#include "render.h"

extern char** environ;

namespace reproject {
namespace preview {
namespace {

constexpr const char* kJson = "application/json";

// The widest input view the page gets.
constexpr int kInputViewWidth = 640;

void SendError(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content("{\"error\":" + JsonString(message) + "}", kJson);
}

Params ParamsOf(const httplib::Request& req) { return Params(req.params.begin(), req.params.end()); }

bool Flag(const httplib::Request& req, const char* name) { return req.get_param_value(name) == "1"; }

// The preview's own options, taken out of the arguments.
bool TakePreviewOptions(std::vector<std::string>* args, PreviewSettings* settings, std::string* error) {
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args->size(); ++i) {
    const std::string& a = (*args)[i];
    if (a == "--no-browser") {
      settings->open_browser = false;
    } else if (a == "--port" || a.rfind("--port=", 0) == 0) {
      std::string value = a == "--port" ? (i + 1 < args->size() ? (*args)[++i] : "") : a.substr(7);
      char* end = nullptr;
      const long port = value.empty() ? -1 : std::strtol(value.c_str(), &end, 10);
      if (port < 0 || port > 65535 || *end != '\0') {
        *error = "--port " + value + ": expected a port number 1..65535 (or 0 for a free one)";
        return false;
      }
      settings->port = static_cast<int>(port);
    } else {
      rest.push_back(a);
    }
  }
  *args = rest;
  return true;
}

void OpenBrowser(const std::string& url) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char program[] = "xdg-open";
  std::vector<char> address(url.begin(), url.end());
  address.push_back('\0');
  char* argv[] = {program, address.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, program, &actions, nullptr, argv, environ) == 0)
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  posix_spawn_file_actions_destroy(&actions);
}

// What the page's last conversion did.
struct ConversionStatus {
  bool started = false;
  bool running = false;
  long done = 0;
  long total = 0;
  int status = kExitOk;
  std::string message;
  std::string output;
  std::string command;
  long long bytes = 0;
  double seconds = 0;
};

}  // namespace

struct PreviewServer::Impl {
  PreviewSettings settings;
  std::string token;
  int port = 0;
  InputInfo info;
  std::string input_name;
  ViewState initial;
  std::unique_ptr<RenderQueue> renderer;
  Console console{false, false};
  httplib::Server http;
  std::thread listener;

  std::mutex conversion_mutex;
  ConversionStatus conversion;
  std::atomic<bool> cancel{false};
  std::thread conversion_thread;

  std::string DefaultOutput() const;
  std::string OutputPath(const std::string& name) const {
    return settings.folder == "." ? name : settings.folder + "/" + name;
  }
  bool ReadState(const httplib::Request& req, httplib::Response& res, ViewState* state) {
    std::string error;
    if (ParseState(ParamsOf(req), settings.plugins, info.frame_count, state, &error)) return true;
    SendError(res, 400, error);
    return false;
  }
  // The page's conversion settings; the output name as the page gave it or
  // the default.
  Options PageOptions(const httplib::Request& req, const ViewState& state) const {
    const std::string output = req.has_param("output") ? req.get_param_value("output") : DefaultOutput();
    return ConversionOptions(state, settings.options, output, Flag(req, "overwrite"), Flag(req, "this_frame"));
  }

  void Routes();
  bool Admit(const httplib::Request& req, httplib::Response& res);
  void Render(const httplib::Request& req, httplib::Response& res);
  void StartConversion(const httplib::Request& req, httplib::Response& res);
  void Convert(ConversionJob job, std::string name);
  std::string ConversionJson();
};

std::string PreviewServer::Impl::DefaultOutput() const {
  std::string stem = settings.options.input;
  const std::size_t slash = stem.rfind('/');
  if (slash != std::string::npos) stem = stem.substr(slash + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem = stem.substr(0, dot);
  if (stem.empty() || stem[0] == '.' || stem.find('%') != std::string::npos) stem = "output";
  return stem + "-" + initial.plugin->name + (info.still ? ".png" : ".mp4");
}

bool PreviewServer::Impl::Admit(const httplib::Request& req, httplib::Response& res) {
  if (!HostAllowed(req.get_header_value("Host"), port)) {
    SendError(res, 403, "this preview answers only to 127.0.0.1:" + std::to_string(port));
    return false;
  }
  const std::string given =
      req.has_param("token") ? req.get_param_value("token") : req.get_header_value("X-Preview-Token");
  if (!TokenMatches(given, token)) {
    SendError(res, 403, "missing or wrong access token: open the address reproject preview printed");
    return false;
  }
  return true;
}

void PreviewServer::Impl::Render(const httplib::Request& req, httplib::Response& res) {
  const auto start = std::chrono::steady_clock::now();
  ViewState state;
  if (!ReadState(req, res, &state)) return;
  const std::string fmt = req.has_param("fmt") ? req.get_param_value("fmt") : "jpg";
  if (fmt != "jpg" && fmt != "png") {
    SendError(res, 400, "fmt " + fmt + ": jpg or png");
    return;
  }
  const PictureFormat format = fmt == "png" ? PictureFormat::kPng : PictureFormat::kJpeg;
  Picture picture;
  std::string error;
  // The page's view (JPEG) gives way to a newer one; a lossless frame is
  // always made.
  const RenderQueue::Outcome outcome = renderer->Run(
      [&](FrameRenderer& r, std::string* e) { return r.Render(state, format, &picture, e); },
      format == PictureFormat::kJpeg ? RenderQueue::Kind::kView : RenderQueue::Kind::kKept, &error);
  if (outcome == RenderQueue::Outcome::kSuperseded) {
    res.status = 204;
    return;
  }
  if (outcome == RenderQueue::Outcome::kFailed) {
    SendError(res, 500, error);
    return;
  }
  const double total = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  char timing[160];
  std::snprintf(timing, sizeof(timing), "decode;dur=%.2f, filter;dur=%.2f, encode;dur=%.2f, total;dur=%.2f",
                picture.decode_ms, picture.filter_ms, picture.encode_ms, total);
  res.set_header("Server-Timing", timing);
  res.set_header("X-Frame-Size", std::to_string(picture.w) + "x" + std::to_string(picture.h));
  res.set_content(picture.bytes, format == PictureFormat::kPng ? "image/png" : "image/jpeg");
}

void PreviewServer::Impl::StartConversion(const httplib::Request& req, httplib::Response& res) {
  ViewState state;
  if (!ReadState(req, res, &state)) return;
  const std::string name = req.get_param_value("output");
  std::string error;
  if (!CheckOutputName(settings.folder, name, &error)) {
    SendError(res, 400, error);
    return;
  }
  Options options = PageOptions(req, state);
  const std::string command = "reproject " + ShellLine(CommandArgs(state.plugin->name, state.plugin->controls, options));
  options.output.path = OutputPath(name);
  options.output.quiet = true;
  {
    std::lock_guard<std::mutex> lock(conversion_mutex);
    if (conversion.running) {
      SendError(res, 409, "a conversion is running (" + conversion.output + "); cancel it first");
      return;
    }
    conversion = ConversionStatus();
    conversion.started = conversion.running = true;
    conversion.output = name;
    conversion.command = command;
  }
  if (conversion_thread.joinable()) conversion_thread.join();
  cancel = false;
  ConversionJob job;
  job.library = state.plugin->library.get();
  job.controls = &state.plugin->controls;
  job.equirectangular_output = state.plugin->controls.MakesPanoramas();
  job.options = options;
  conversion_thread = std::thread([this, job, name]() mutable { Convert(std::move(job), name); });
  res.status = 202;
  res.set_content(ConversionJson(), kJson);
}

void PreviewServer::Impl::Convert(ConversionJob job, std::string name) {
  const auto start = std::chrono::steady_clock::now();
  job.cancel = &cancel;
  job.progress = [this](long done, long total) {
    std::lock_guard<std::mutex> lock(conversion_mutex);
    conversion.done = done;
    conversion.total = total;
  };
  std::string error;
  int status = kExitFailed;
  try {
    std::unique_ptr<MediaReader> reader;
    status = PrepareConversion(&job, &reader, &console, &error);
    if (status == kExitOk) {
      status = RunConversion(job, reader.get(), &console, &error);
    } else {
      console.Error(error);
    }
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  }
  // What was written: the file, or each numbered picture.
  long long bytes = 0;
  std::string numbered;
  struct stat st;
  if (status == kExitOk && NumberedName(job.options.output.path, 0, &numbered)) {
    std::lock_guard<std::mutex> lock(conversion_mutex);
    for (long i = 0; i < conversion.done; ++i)
      if (NumberedName(job.options.output.path, job.options.start + i, &numbered) &&
          stat(numbered.c_str(), &st) == 0)
        bytes += st.st_size;
  } else if (status == kExitOk && stat(job.options.output.path.c_str(), &st) == 0) {
    bytes = st.st_size;
  }
  std::lock_guard<std::mutex> lock(conversion_mutex);
  conversion.running = false;
  conversion.status = status;
  conversion.message = status == kExitOk ? name + " written" : error;
  conversion.bytes = bytes;
  conversion.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string PreviewServer::Impl::ConversionJson() {
  std::lock_guard<std::mutex> lock(conversion_mutex);
  const ConversionStatus& c = conversion;
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%.2f", c.seconds);
  return std::string("{\"started\":") + (c.started ? "true" : "false") + ",\"running\":" +
         (c.running ? "true" : "false") + ",\"done\":" + std::to_string(c.done) + ",\"total\":" +
         std::to_string(c.total) + ",\"status\":" + std::to_string(c.status) + ",\"message\":" +
         JsonString(c.message) + ",\"output\":" + JsonString(c.output) + ",\"command\":" + JsonString(c.command) +
         ",\"bytes\":" + std::to_string(c.bytes) + ",\"seconds\":" + seconds + "}";
}

void PreviewServer::Impl::Routes() {
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled : httplib::Server::HandlerResponse::Handled;
  });
  http.set_default_headers({{"Cache-Control", "no-store"},
                            {"X-Content-Type-Options", "nosniff"},
                            {"Referrer-Policy", "no-referrer"},
                            {"X-Frame-Options", "DENY"},
                            {"Content-Security-Policy",
                             "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob: data:; "
                             "connect-src 'self'; frame-ancestors 'none'"}});
  http.set_payload_max_length(1 << 16);
  http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
    std::string what = "internal error";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    SendError(res, 500, what);
  });
  http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) SendError(res, res.status, "no such page");
  });

  http.Get("/", [this](const httplib::Request&, httplib::Response& res) {
    std::string page = kIndexHtml;
    for (std::size_t at = page.find("__TOKEN__"); at != std::string::npos; at = page.find("__TOKEN__", at))
      page.replace(at, 9, token);
    res.set_content(page, "text/html; charset=utf-8");
  });
  http.Get("/page.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageJs, "text/javascript; charset=utf-8");
  });
  http.Get("/page.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageCss, "text/css; charset=utf-8");
  });
  http.Get("/api/session", [this](const httplib::Request&, httplib::Response& res) {
    std::string plugins;
    for (const PluginEntry& p : settings.plugins) plugins += (plugins.empty() ? "" : ",") + JsonString(p.name);
    res.set_content("{\"input\":" + JsonString(input_name) + ",\"still\":" + (info.still ? "true" : "false") +
                        ",\"frames\":" + std::to_string(info.frame_count) + ",\"plugins\":[" + plugins +
                        "],\"output\":" + JsonString(DefaultOutput()) +
                        ",\"initial\":" + InitialStateJson(initial) + "}",
                    kJson);
  });
  http.Get("/api/controls", [this](const httplib::Request& req, httplib::Response& res) {
    const PluginEntry* plugin = FindEntry(settings.plugins, req.get_param_value("plugin"));
    if (plugin == nullptr) return SendError(res, 400, "unknown plug-in '" + req.get_param_value("plugin") + "'");
    res.set_content(ControlsJson(*plugin), kJson);
  });
  http.Get("/api/state", [this](const httplib::Request& req, httplib::Response& res) {
    ViewState state;
    if (ReadState(req, res, &state)) res.set_content(StateJson(state, PageOptions(req, state)), kJson);
  });
  http.Get("/api/render", [this](const httplib::Request& req, httplib::Response& res) { Render(req, res); });
  http.Get("/api/input", [this](const httplib::Request& req, httplib::Response& res) {
    ViewState state;
    if (!ReadState(req, res, &state)) return;
    Picture picture;
    std::string error;
    const auto outcome = renderer->Run(
        [&](FrameRenderer& r, std::string* e) { return r.InputPicture(state.frame, kInputViewWidth, &picture, e); },
        RenderQueue::Kind::kInput, &error);
    if (outcome == RenderQueue::Outcome::kSuperseded) {
      res.status = 204;
      return;
    }
    if (outcome != RenderQueue::Outcome::kDone) return SendError(res, 500, error);
    res.set_content(picture.bytes, "image/jpeg");
  });
  http.Post("/api/convert", [this](const httplib::Request& req, httplib::Response& res) { StartConversion(req, res); });
  http.Get("/api/convert", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(ConversionJson(), kJson);
  });
  http.Post("/api/convert/cancel", [this](const httplib::Request&, httplib::Response& res) {
    cancel = true;
    res.set_content(ConversionJson(), kJson);
  });
}

PreviewServer::PreviewServer() : impl_(new Impl()) {}

PreviewServer::~PreviewServer() {
  Impl& m = *impl_;
  m.cancel = true;
  m.http.stop();
  if (m.listener.joinable()) m.listener.join();
  if (m.conversion_thread.joinable()) m.conversion_thread.join();
}

std::unique_ptr<PreviewServer> PreviewServer::Start(PreviewSettings settings, std::string* error, int* status) {
  std::unique_ptr<PreviewServer> server(new PreviewServer());
  Impl& m = *server->impl_;
  m.settings = std::move(settings);
  const Options& options = m.settings.options;
  int ignored = kExitOk;
  int& failure = status != nullptr ? *status : ignored;
  failure = kExitUsage;
  if (options.input == "-" || options.input.rfind("pipe:", 0) == 0) {
    *error = "reproject preview reads its input again for every frame: give a file, not the standard input";
    return nullptr;
  }
  failure = kExitFailed;
  std::unique_ptr<MediaReader> reader = MediaReader::Open(options.input, error);
  if (reader == nullptr) return nullptr;
  m.info = reader->info();
  m.input_name = reader->name();
  m.initial.plugin = &m.settings.plugins.front();
  m.initial.values = options.values;
  m.initial.frame = options.start;
  if (m.info.still && options.start > 0) {
    *error = "--start " + std::to_string(options.start) + ": " + options.input + " is a single picture (frame 0 only)";
    failure = kExitUsage;
    return nullptr;
  }
  failure = kExitFailed;
  m.renderer.reset(new RenderQueue(m.settings.options));
  m.token = NewToken();
  m.Routes();
  if (m.settings.port > 0) {
    if (!m.http.bind_to_port("127.0.0.1", m.settings.port)) {
      *error = "--port " + std::to_string(m.settings.port) + ": cannot listen on 127.0.0.1 there (in use?)";
      return nullptr;
    }
    m.port = m.settings.port;
  } else {
    m.port = m.http.bind_to_any_port("127.0.0.1");
    if (m.port <= 0) {
      *error = "cannot listen on 127.0.0.1";
      return nullptr;
    }
  }
  m.listener = std::thread([&m] { m.http.listen_after_bind(); });
  return server;
}

int PreviewServer::port() const { return impl_->port; }
const std::string& PreviewServer::token() const { return impl_->token; }
std::string PreviewServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/?token=" + impl_->token;
}

bool ParsePreviewArgs(const std::vector<std::string>& args, PreviewSettings* settings, std::string* error,
                      const std::string& plugin_folder) {
  std::vector<std::string> rest = args;
  if (!TakePreviewOptions(&rest, settings, error)) return false;
  // PLUGIN, when given, comes first (after any host options).
  std::string plugin = "varnel", candidate, why;
  std::vector<std::string> after;
  if (FindPlugin(rest, &candidate, &after, &why) && NamesPlugin(candidate)) {
    plugin = candidate;
    rest = after;
  }
  if (!LoadPlugins(plugin, plugin_folder, &settings->plugins, error)) return false;
  if (ParseOptions(rest, settings->plugins.front().controls, &settings->options, error, false)) return true;
  const std::string hint = "reproject PLUGIN --help";
  const std::size_t at = error->find(hint);
  if (at != std::string::npos) error->replace(at, hint.size(), "reproject preview --help");
  return false;
}

std::string PreviewUsage() {
  return "usage: reproject preview [PLUGIN] [OPTIONS] INPUT\n"
         "Serves a page on 127.0.0.1 that shows PLUGIN's output (default varnel) for a frame of INPUT\n"
         "as the controls change, and starts the conversion; OPTIONS are those of a conversion and\n"
         "set where the page starts. Preview options:\n"
         "  --port N       listen on port N (default: a free port)\n"
         "  --no-browser   print the page's address without opening a browser\n";
}

int RunPreview(const std::vector<std::string>& args) {
  Console plain(false);
  PreviewSettings settings;
  std::string error;
  if (!ParsePreviewArgs(args, &settings, &error)) {
    plain.Error(error);
    return kExitUsage;
  }
  if (settings.options.help) {
    std::printf("%s\n%s", PreviewUsage().c_str(), settings.plugins.front().controls.Help().c_str());
    return kExitOk;
  }
  const bool open_browser = settings.open_browser;
  const std::string input = settings.options.input;
  int status = kExitFailed;
  std::unique_ptr<PreviewServer> server = PreviewServer::Start(std::move(settings), &error, &status);
  if (server == nullptr) {
    plain.Error(error);
    return status;
  }
  std::printf("reproject: preview of %s at %s\n(Ctrl-C stops it)\n", input.c_str(), server->Url().c_str());
  std::fflush(stdout);
  if (open_browser) OpenBrowser(server->Url());
  InstallInterruptHandlers();
  while (!Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return kExitOk;
}

}  // namespace preview
}  // namespace reproject
