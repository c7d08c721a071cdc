#include "SsdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "SsdpMessage.h"

namespace {

int set_int(int fd, int level, int option, int value) {
  return setsockopt(fd, level, option, &value, sizeof value) == 0 ? 0 : errno;
}

// Closes fd and hands back the failure that made us give it up.
int give_up(int fd, int status) {
  close(fd);
  return status;
}

}  // namespace

int ssdp_socket_listen(int *fd) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  int status = set_int(s, SOL_SOCKET, SO_REUSEADDR, 1);
  if (status == 0) status = set_int(s, IPPROTO_IP, IP_PKTINFO, 1);
  // Only the groups this socket joined, not those of every socket on the host.
  if (status == 0) status = set_int(s, IPPROTO_IP, IP_MULTICAST_ALL, 0);
  if (status != 0) return give_up(s, status);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(SSDP_PORT);
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(s, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) return give_up(s, errno);
  *fd = s;
  return 0;
}

int ssdp_socket_join(int fd, unsigned ifindex, in_addr address) {
  ip_mreqn request{};
  inet_pton(AF_INET, SSDP_GROUP, &request.imr_multiaddr);
  request.imr_address = address;
  request.imr_ifindex = static_cast<int>(ifindex);
  return setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 ? 0 : errno;
}

int ssdp_socket_sender(in_addr address, int *fd) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr = address;
  if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) return give_up(s, errno);
  ip_mreqn out{};
  out.imr_address = address;
  int status = setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out) == 0 ? 0 : errno;
  if (status == 0) status = set_int(s, IPPROTO_IP, IP_MULTICAST_TTL, 2);
  if (status == 0) status = set_int(s, IPPROTO_IP, IP_MULTICAST_LOOP, 1);
  if (status != 0) return give_up(s, status);
  *fd = s;
  return 0;
}

int ssdp_socket_receive(int fd, SsdpDatagram *datagram) {
  char buffer[SSDP_MAX_DATAGRAM];
  char control[CMSG_SPACE(sizeof(in_pktinfo))];
  iovec io{buffer, sizeof buffer};
  msghdr message{};
  message.msg_name = &datagram->from;
  message.msg_namelen = sizeof datagram->from;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t length = recvmsg(fd, &message, 0);
  if (length < 0) return errno;
  datagram->text.assign(buffer, static_cast<size_t>(length));
  datagram->truncated = (message.msg_flags & MSG_TRUNC) != 0;
  datagram->ifindex = 0;
  for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info;
    memcpy(&info, CMSG_DATA(c), sizeof info);
    datagram->ifindex = static_cast<unsigned>(info.ipi_ifindex);
    datagram->local = info.ipi_spec_dst;
    datagram->multicast = IN_MULTICAST(ntohl(info.ipi_addr.s_addr));
  }
  return 0;
}

int ssdp_socket_send(int fd, const std::string &text, const sockaddr_in &to) {
  ssize_t sent = sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
  return sent < 0 ? errno : 0;
}

sockaddr_in ssdp_socket_group() {
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(SSDP_PORT);
  inet_pton(AF_INET, SSDP_GROUP, &group.sin_addr);
  return group;
}
