// A PostgreSQL server of its own for a test: made with the Debian package's initdb in a
// temporary folder and started with pg_ctl on a free port of the loopback interface. The
// server refuses to run as root: a test run by root starts it as the user "nobody".
#pragma once

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace lumo::test {

class PostgresServer {
 public:
  static constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

  PostgresServer() = default;
  ~PostgresServer() {
    if (started_) Stop();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // False with the reason when no server can be made here.
  bool Start(std::string* why) {
    if (access((std::string(kBin) + "initdb").c_str(), X_OK) != 0) {
      *why = "the postgresql package is not installed (no initdb)";
      return false;
    }
    std::string pattern = "/tmp/lumo-pg-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      *why = "no temporary folder";
      return false;
    }
    folder_ = pattern;
    if (geteuid() == 0) {
      struct passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
        *why = "cannot hand a folder to the user nobody";
        return false;
      }
      prefix_ = "runuser -u nobody -- ";
    }
    chmod(folder_.c_str(), 0700);
    port_ = FreePort();
    if (port_ == 0 || !Run(std::string(kBin) + "initdb -D " + folder_ +
                           "/data -A trust -U lumo -E UTF8 --locale=C --no-sync")) {
      *why = "initdb failed (see " + folder_ + "/out)";
      return false;
    }
    if (!Resume()) {
      *why = "pg_ctl start failed (see " + folder_ + "/log)";
      return false;
    }
    return true;
  }

  bool Resume() {
    started_ = Run(std::string(kBin) + "pg_ctl -D " + folder_ + "/data -l " + folder_ +
                   "/log -w -t 60 -o \"-p " + std::to_string(port_) + " -k " + folder_ +
                   " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=40\" start");
    return started_;
  }

  bool Stop() {
    bool ok = Run(std::string(kBin) + "pg_ctl -D " + folder_ + "/data -m fast -w -t 60 stop");
    if (ok) started_ = false;
    return ok;
  }

  std::string Uri(const std::string& database = "postgres") const {
    return "postgresql://lumo@127.0.0.1:" + std::to_string(port_) + "/" + database;
  }
  int Port() const { return port_; }

 private:
  bool Run(const std::string& command) const {
    std::string line = "cd /tmp && " + prefix_ + command + " >>" + folder_ + "/out 2>&1";
    return std::system(line.c_str()) == 0;
  }

  static int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port = ntohs(address.sin_port);
    close(fd);
    return port;
  }

  std::string folder_;
  std::string prefix_;
  int port_ = 0;
  bool started_ = false;
};

}  // namespace lumo::test
