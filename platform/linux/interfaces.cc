#include "platform/linux/interfaces.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace hv {
namespace {

// Closes the socket on every way out.
class Socket {
  public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// The list can outgrow any fixed buffer on a host with many addresses. A NULL buffer makes the
// kernel report the length it needs; the list may still grow before the second call, so a reply
// that fills the buffer exactly is retried with a larger one, up to a bound.
std::optional<std::vector<char>> readConf(int fd) {
    constexpr size_t kMaxBytes = size_t{1} << 20;
    ifconf probe{};
    probe.ifc_buf = nullptr;
    probe.ifc_len = 0;
    if (::ioctl(fd, SIOCGIFCONF, &probe) < 0) return std::nullopt;
    size_t size = static_cast<size_t>(probe.ifc_len) + 16 * sizeof(ifreq);
    while (size <= kMaxBytes) {
        std::vector<char> buffer(size);
        ifconf conf{};
        conf.ifc_len = static_cast<int>(buffer.size());
        conf.ifc_buf = buffer.data();
        if (::ioctl(fd, SIOCGIFCONF, &conf) < 0) return std::nullopt;
        if (static_cast<size_t>(conf.ifc_len) < buffer.size()) {
            buffer.resize(static_cast<size_t>(conf.ifc_len));
            return buffer;
        }
        size *= 2;
    }
    return std::nullopt;
}

bool isUp(int fd, const char (&name)[IFNAMSIZ]) {
    ifreq request{};
    std::memcpy(request.ifr_name, name, IFNAMSIZ);
    if (::ioctl(fd, SIOCGIFFLAGS, &request) < 0) return false;
    return (request.ifr_flags & IFF_UP) != 0;
}

}  // namespace

std::optional<std::vector<InterfaceEntry>> listInterfaces() {
    Socket socket;
    if (socket.fd() < 0) return std::nullopt;
    auto conf = readConf(socket.fd());
    if (!conf) return std::nullopt;

    // Linux records are fixed-size ifreq structures (no sa_len), one per IPv4 address.
    std::vector<InterfaceEntry> entries;
    for (size_t offset = 0; offset + sizeof(ifreq) <= conf->size(); offset += sizeof(ifreq)) {
        ifreq record;
        std::memcpy(&record, conf->data() + offset, sizeof record);
        char name[IFNAMSIZ];
        std::memcpy(name, record.ifr_name, IFNAMSIZ);
        name[IFNAMSIZ - 1] = '\0';

        InterfaceEntry entry;
        entry.name = name;
        entry.family = record.ifr_addr.sa_family;
        if (entry.family == AF_INET) {
            sockaddr_in address;
            std::memcpy(&address, &record.ifr_addr, sizeof address);
            char text[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) entry.address = text;
        }
        entry.up = isUp(socket.fd(), name);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace hv
