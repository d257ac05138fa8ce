// Closes a Wayland window the way a compositor does, for tests: a relay between
// one client and the compositor that passes every message (and the file
// descriptors that travel with them) through unchanged, and on "close ID" read
// from CONTROL (a FIFO) sends the client xdg_toplevel.close for the toplevel
// object ID. Weston has no way to ask a client to close from outside, and its
// headless backend has no input with which to click a close button.
//
//   usage: wlclose COMPOSITOR_SOCKET LISTEN_SOCKET CONTROL_FIFO
//
// It serves one client and ends, with status 0, when either side hangs up.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// As many descriptors as libwayland sends or receives with one message batch.
constexpr std::size_t MaxFds = 28;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "wlclose: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

sockaddr_un Address(const char* path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    Fail(path);
  }
  std::strcpy(addr.sun_path, path);
  return addr;
}

// Bytes and descriptors read from one side and not yet passed on.
struct Pending {
  std::vector<std::uint8_t> bytes;
  std::vector<int> fds;
};

// Reads what is there; false when the peer has hung up.
bool Receive(int fd, Pending& p) {
  std::uint8_t buf[4096];
  alignas(cmsghdr) char control[CMSG_SPACE(MaxFds * sizeof(int))];
  iovec iov{buf, sizeof buf};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &msg, MSG_CMSG_CLOEXEC);
  if (n < 0) {
    if (errno == EINTR || errno == EAGAIN) return true;
    if (errno == ECONNRESET) return false;
    Fail("recvmsg");
  }
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int passed;
      std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
      p.fds.push_back(passed);
    }
  }
  p.bytes.insert(p.bytes.end(), buf, buf + n);
  return n > 0;
}

// Sends the first `count` pending bytes with every pending descriptor.
void Send(int fd, Pending& p, std::size_t count) {
  std::size_t sent = 0;
  while (sent < count || !p.fds.empty()) {
    iovec iov{p.bytes.data() + sent, count - sent};
    alignas(cmsghdr) char control[CMSG_SPACE(MaxFds * sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    const std::size_t nfds = std::min(p.fds.size(), MaxFds);
    if (nfds > 0) {
      msg.msg_control = control;
      msg.msg_controllen = CMSG_SPACE(nfds * sizeof(int));
      cmsghdr* c = CMSG_FIRSTHDR(&msg);
      c->cmsg_level = SOL_SOCKET;
      c->cmsg_type = SCM_RIGHTS;
      c->cmsg_len = CMSG_LEN(nfds * sizeof(int));
      std::memcpy(CMSG_DATA(c), p.fds.data(), nfds * sizeof(int));
    }
    const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("sendmsg");
    }
    for (std::size_t i = 0; i < nfds; ++i) close(p.fds[i]);
    p.fds.erase(p.fds.begin(), p.fds.begin() + static_cast<std::ptrdiff_t>(nfds));
    sent += static_cast<std::size_t>(n);
  }
  p.bytes.erase(p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

// The length of the whole messages at the front: each starts with the object
// id and a word holding its size (upper 16 bits) and opcode.
std::size_t WholeMessages(const std::vector<std::uint8_t>& bytes) {
  std::size_t at = 0;
  while (bytes.size() - at >= 8) {
    std::uint32_t word;
    std::memcpy(&word, bytes.data() + at + 4, sizeof word);
    const std::size_t size = word >> 16;
    if (size < 8) {
      errno = EPROTO;
      Fail("malformed message from the compositor");
    }
    if (bytes.size() - at < size) break;
    at += size;
  }
  return at;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: wlclose COMPOSITOR_SOCKET LISTEN_SOCKET CONTROL_FIFO\n");
    return 2;
  }
  const int control = open(argv[3], O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (control < 0) Fail(argv[3]);

  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un listen_addr = Address(argv[2]);
  if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&listen_addr), sizeof listen_addr) != 0 ||
      listen(listener, 1) != 0) {
    Fail(argv[2]);
  }
  const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) Fail("accept");
  close(listener);
  unlink(argv[2]);

  const int compositor = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un compositor_addr = Address(argv[1]);
  if (compositor < 0 ||
      connect(compositor, reinterpret_cast<const sockaddr*>(&compositor_addr), sizeof compositor_addr) != 0) {
    Fail(argv[1]);
  }

  Pending up, down;
  std::string command;
  for (;;) {
    pollfd fds[] = {{client, POLLIN, 0}, {compositor, POLLIN, 0}, {control, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      Fail("poll");
    }
    if (fds[0].revents) {
      if (!Receive(client, up)) return 0;
      Send(compositor, up, up.bytes.size());
    }
    if (fds[1].revents) {
      if (!Receive(compositor, down)) return 0;
      // Only whole messages go on, so the client's stream is always at a
      // message boundary, where an event of our own may go in.
      Send(client, down, WholeMessages(down.bytes));
    }
    if (fds[2].revents) {
      char buf[64];
      const ssize_t n = read(control, buf, sizeof buf);
      if (n > 0) command.append(buf, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = command.find('\n')) != std::string::npos) {
        const std::string line = command.substr(0, end);
        command.erase(0, end + 1);
        unsigned id = 0;
        if (std::sscanf(line.c_str(), "close %u", &id) != 1) continue;
        // xdg_toplevel event 1, close: no arguments, so 8 bytes in all.
        const std::uint32_t close_event[2] = {id, (8u << 16) | 1u};
        Pending inject;
        inject.bytes.resize(sizeof close_event);
        std::memcpy(inject.bytes.data(), close_event, sizeof close_event);
        Send(client, inject, inject.bytes.size());
      }
    }
  }
}
