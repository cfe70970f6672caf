#include "tests/support/op_server.h"

#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include "platform/win32/wininet_delayed.h"
#else
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#ifndef CORVANE_OPSERVER_EXE
#define CORVANE_OPSERVER_EXE ""
#endif

namespace corvane::test {

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

}  // namespace

TestServer::TestServer() {
#ifndef _WIN32
  root_ = MakeTempDir("opserver");
  ownsRoot_ = true;
  server_ = new OpServer(root_);
  base_ = server_->Url("");
#else
  const char* url = std::getenv("CORVANE_OPSERVER_URL");
  const char* root = std::getenv("CORVANE_OPSERVER_ROOT");
  if (!url || !root) return;
  base_ = url;
  root_ = root;
  Control("clear");
  Control("clear-logs");
  // Each test starts from an empty folder, as it does natively.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(root_, ec)) std::filesystem::remove_all(entry.path(), ec);
#endif
}

TestServer::~TestServer() {
#ifndef _WIN32
  delete server_;
#endif
  std::error_code ec;
  if (ownsRoot_) std::filesystem::remove_all(root_, ec);
}

void TestServer::WriteFile(const std::string& relPath, const std::string& content) const {
  std::filesystem::path p = std::filesystem::path(root_) / std::filesystem::path(relPath).relative_path();
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

void TestServer::RemoveFile(const std::string& relPath) const {
  std::error_code ec;
  std::filesystem::remove(std::filesystem::path(root_) / std::filesystem::path(relPath).relative_path(), ec);
}

std::string TestServer::Control(const std::string& command) const {
  TestResponse r = TestHttpGet(Url("/_control/" + command));
  if (r.status != 200) throw std::runtime_error("opserver control " + command + ": " + r.body);
  return r.body;
}

std::string TestServer::Path(const std::string& relPath) const {
  return (std::filesystem::path(root_) / std::filesystem::path(relPath).relative_path()).string();
}

std::vector<std::string> TestServer::StatQueries() const { return Lines(Control("stats")); }
std::vector<std::string> TestServer::Requests() const { return Lines(Control("requests")); }

namespace {
int64_t Counter(const std::string& counters, const std::string& name) {
  for (const std::string& line : Lines(counters))
    if (line.compare(0, name.size() + 1, name + "=") == 0) return std::stoll(line.substr(name.size() + 1));
  throw std::runtime_error("opserver: no counter " + name);
}
}  // namespace

int64_t TestServer::BytesSent() const { return Counter(Control("counters"), "bytes-sent"); }
int TestServer::MaxConcurrent() const { return static_cast<int>(Counter(Control("counters"), "max-concurrent")); }

std::string ClosedPortUrl(const std::string& path) {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA d;
    return ::WSAStartup(MAKEWORD(2, 2), &d) == 0;
  }();
  (void)started;
#endif
  // A port the system hands out and that is closed again at once.
  const auto s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
#ifdef _WIN32
  int len = sizeof a;
#else
  socklen_t len = sizeof a;
#endif
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
#ifdef _WIN32
  ::closesocket(s);
#else
  ::close(s);
#endif
  if (port == 0) throw std::runtime_error("no free port");
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

#ifndef _WIN32
namespace {

size_t Collect(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

}  // namespace

TestResponse TestHttpGet(const std::string& url) {
  TestResponse r;
  CURL* c = curl_easy_init();
  if (!c) return r;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  if (curl_easy_perform(c) == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
    r.status = static_cast<int>(code);
  }
  curl_easy_cleanup(c);
  return r;
}

OpServer::OpServer(const std::string& root, const std::vector<std::string>& args) {
  std::string exe = CORVANE_OPSERVER_EXE;
  if (const char* e = std::getenv("CORVANE_OPSERVER_EXE")) exe = e;
  std::vector<std::string> argv = {exe, "--root", root, "--exit-on-stdin-eof"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  int in[2], out[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("opserver: pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  stdinFd_ = in[1];
  if (rc != 0) {
    ::close(out[0]);
    ::close(stdinFd_);
    throw std::runtime_error("opserver: cannot start " + exe);
  }
  pid_ = pid;
  // The first line of its output is the port.
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);  // later output (none with a stat log file) is not needed
  port_ = std::atoi(line.c_str());
  if (port_ <= 0) {
    Shutdown();
    throw std::runtime_error("opserver: no port announced");
  }
}

OpServer::~OpServer() { Shutdown(); }

void OpServer::Shutdown() {
  if (stdinFd_ >= 0) ::close(stdinFd_);  // the server ends when its input closes
  stdinFd_ = -1;
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::usleep(20000);
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
  pid_ = -1;
}

std::string OpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string OpServer::Control(const std::string& command) const {
  TestResponse r = TestHttpGet(Url("/_control/" + command));
  if (r.status != 200) throw std::runtime_error("opserver control " + command + ": " + r.body);
  return r.body;
}

std::vector<std::string> OpServer::StatQueries() const { return Lines(Control("stats")); }
std::vector<std::string> OpServer::Requests() const { return Lines(Control("requests")); }

#else

TestResponse TestHttpGet(const std::string& url) {
  TestResponse r;
  HINTERNET net = ::InternetOpenA("corvane-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (!net) return r;
  HINTERNET h = ::InternetOpenUrlA(net, url.c_str(), nullptr, 0,
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (h) {
    DWORD code = 0, len = sizeof code;
    if (::HttpQueryInfoA(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len, nullptr))
      r.status = static_cast<int>(code);
    char buf[4096];
    DWORD got = 0;
    while (::InternetReadFile(h, buf, sizeof buf, &got) && got > 0) r.body.append(buf, got);
    ::InternetCloseHandle(h);
  }
  ::InternetCloseHandle(net);
  return r;
}

#endif

}  // namespace corvane::test
