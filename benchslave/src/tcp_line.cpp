// SPDX-License-Identifier: MIT
// Modbus TCP: every client served side by side from one poll loop, each with its
// own buffer, so that no client can hold up another.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "line.h"

namespace benchslave {

namespace {

constexpr std::size_t kMaxClients = 16;  // beyond it, new connections are closed at once
constexpr auto kIdleTimeout = std::chrono::seconds(60);
// Out of descriptors: the listening socket rests this long, so the loop cannot spin.
constexpr auto kAcceptPause = std::chrono::milliseconds(200);

struct Client {
    int id = 0;
    int fd = -1;
    Bytes buffer;
    Clock::time_point heard{};
};

class TcpLine {
  public:
    TcpLine(const Options& options, Slave& slave, int stop_fd)
        : o_(options), slave_(slave), stop_fd_(stop_fd) {}
    ~TcpLine();
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    int run();

  private:
    bool open(std::string& address);
    int serve();
    std::vector<pollfd> poll_set(Clock::time_point now) const;
    int poll_timeout(Clock::time_point now) const;
    void accept_client(Clock::time_point now);
    bool read_client(Client& client, Clock::time_point now);
    bool take_frames(Client& client, Clock::time_point now);
    Client* find_client(int id);
    void close_client(int id);
    void close_idle(Clock::time_point now);
    void send_due(Clock::time_point now);

    const Options& o_;
    Slave& slave_;
    int stop_fd_;
    modbus_t* ctx_ = nullptr;
    int listen_fd_ = -1;
    std::vector<Client> clients_;
    int next_id_ = 1;
    Clock::time_point accept_rests_until_{};
    Outbox outbox_;
};

TcpLine::~TcpLine() {
    for (const Client& c : clients_) ::close(c.fd);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (ctx_ != nullptr) modbus_free(ctx_);
}

int TcpLine::run() {
    std::string address;
    if (!open(address)) return 1;
    announce(slave_, address);
    return serve();
}

bool TcpLine::open(std::string& address) {
    ctx_ = modbus_new_tcp(o_.listen.c_str(), o_.tcp_port);
    if (ctx_ == nullptr) return refused("modbus_new_tcp");
    listen_fd_ = modbus_tcp_listen(ctx_, static_cast<int>(kMaxClients));
    if (listen_fd_ < 0) return refused("listen on " + o_.listen);
    make_nonblocking(listen_fd_);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        return refused("getsockname");
    }
    address = "tcp:" + o_.listen + ":" + std::to_string(ntohs(bound.sin_port));
    return true;
}

int TcpLine::serve() {
    for (;;) {
        std::vector<pollfd> p = poll_set(Clock::now());
        if (::poll(p.data(), p.size(), poll_timeout(Clock::now())) < 0 && errno != EINTR) {
            return fail("poll");
        }
        if (p[0].revents != 0) return 0;
        const auto now = Clock::now();
        std::vector<int> gone;
        for (std::size_t i = 2; i < p.size(); ++i) {
            Client& c = clients_[i - 2];
            if (p[i].revents != 0 && !read_client(c, now)) gone.push_back(c.id);
        }
        for (int id : gone) close_client(id);
        if (p[1].revents != 0) accept_client(now);
        close_idle(now);
        send_due(now);
    }
}

// The stop pipe, the listening socket (-1 while it rests) and each client, in
// the order of clients_.
std::vector<pollfd> TcpLine::poll_set(Clock::time_point now) const {
    std::vector<pollfd> p;
    p.push_back({stop_fd_, POLLIN, 0});
    p.push_back({now < accept_rests_until_ ? -1 : listen_fd_, POLLIN, 0});
    for (const Client& c : clients_) p.push_back({c.fd, POLLIN, 0});
    return p;
}

int TcpLine::poll_timeout(Clock::time_point now) const {
    std::optional<Clock::time_point> idle;
    for (const Client& c : clients_) {
        if (!idle || c.heard + kIdleTimeout < *idle) idle = c.heard + kIdleTimeout;
    }
    std::optional<Clock::time_point> rest;
    if (now < accept_rests_until_) rest = accept_rests_until_;
    return timeout_ms(now, {outbox_.next(), idle, rest});
}

void TcpLine::accept_client(Clock::time_point now) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            slave_.count("accept_failures");
            accept_rests_until_ = now + kAcceptPause;
        }
        return;
    }
    if (clients_.size() >= kMaxClients) {
        ::close(fd);
        slave_.record("clients_refused");
        return;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    clients_.push_back({next_id_++, fd, {}, now});
}

// False when the client is to be closed: it closed, failed or sent no Modbus TCP.
bool TcpLine::read_client(Client& client, Clock::time_point now) {
    std::uint8_t chunk[1024];
    const ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    client.buffer.insert(client.buffer.end(), chunk, chunk + n);
    client.heard = now;
    return take_frames(client, now);
}

bool TcpLine::take_frames(Client& client, Clock::time_point now) {
    Frame frame;
    std::uint16_t transaction = 0;
    for (;;) {
        switch (take_mbap(client.buffer, frame, transaction)) {
            case MbapStatus::Partial:
                return true;
            case MbapStatus::Bad:
                slave_.record("bad_frames");
                return false;
            case MbapStatus::Whole:
                break;
        }
        if (auto out = slave_.on_frame(frame, now)) {
            out->label.transaction = transaction;
            post(outbox_, client.id, *out, tcp_reply);
        }
    }
}

Client* TcpLine::find_client(int id) {
    auto it = std::find_if(clients_.begin(), clients_.end(),
                           [id](const Client& c) { return c.id == id; });
    return it == clients_.end() ? nullptr : &*it;
}

void TcpLine::close_client(int id) {
    Client* client = find_client(id);
    if (client == nullptr) return;
    ::close(client->fd);
    clients_.erase(clients_.begin() + (client - clients_.data()));
    outbox_.forget(id);
}

void TcpLine::close_idle(Clock::time_point now) {
    std::vector<int> idle;
    for (const Client& c : clients_) {
        if (now - c.heard >= kIdleTimeout) idle.push_back(c.id);
    }
    if (idle.empty()) return;
    for (int id : idle) close_client(id);
    slave_.record("clients_idle", static_cast<long>(idle.size()));
}

// A client that does not take its replies is closed rather than waited for.
void TcpLine::send_due(Clock::time_point now) {
    while (auto p = outbox_.take_due(now)) {
        const Client* client = find_client(p->peer);
        if (client == nullptr) continue;
        const ssize_t n = ::send(client->fd, p->bytes.data(), p->bytes.size(), MSG_NOSIGNAL);
        if (n != static_cast<ssize_t>(p->bytes.size())) close_client(p->peer);
    }
}

}  // namespace

int serve_tcp(const Options& options, Slave& slave, int stop_fd) {
    TcpLine line(options, slave, stop_fd);
    return line.run();
}

}  // namespace benchslave
