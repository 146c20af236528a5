#pragma once
// A tiny HTTP/1.0 server on loopback for the download tests. Each path answers with a status
// and a body; a path marked "stall" accepts the request and then sends nothing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace coretest {

class HttpTestServer {
 public:
  struct Answer {
    int status = 200;
    std::string body;
    bool stall = false;
  };

  HttpTestServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 16);
    socklen_t len = sizeof addr;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~HttpTestServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  void setAnswer(const std::string& path, Answer answer) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(answer);
  }

  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  // The request heads received so far.
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    std::vector<int> stalled;
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd c{client, POLLIN, 0};
        if (::poll(&c, 1, 2000) <= 0) break;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
      }
      const auto sp1 = head.find(' ');
      const auto sp2 = head.find(' ', sp1 + 1);
      const std::string path = sp1 == std::string::npos ? "" : head.substr(sp1 + 1, sp2 - sp1 - 1);
      Answer answer{404, "not found", false};
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(head);
        if (auto it = answers_.find(path); it != answers_.end()) answer = it->second;
      }
      if (answer.stall) {
        stalled.push_back(client);  // keep it open and silent until the server stops
        continue;
      }
      const std::string reply = "HTTP/1.0 " + std::to_string(answer.status) + " X\r\nContent-Length: " +
                                std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" + answer.body;
      std::size_t sent = 0;
      while (sent < reply.size()) {
        const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      ::close(client);
    }
    for (int s : stalled) ::close(s);
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace coretest
