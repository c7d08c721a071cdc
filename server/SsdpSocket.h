// SsdpSocket: the UDP sockets SSDP runs on, over plain BSD sockets.
//
// One listener bound to port 1900 on every address, joined to the SSDP group
// on each served interface and reporting per datagram which interface and
// destination it came to (IP_PKTINFO); one sender per interface, bound to its
// address, whose multicast leaves by that interface only. Descriptors belong
// to the caller (close them with close); no state is shared between calls.
#pragma once

#include <netinet/in.h>

#include <string>

// Opens the listener. Returns 0 and the descriptor in *fd, or errno.
int ssdp_socket_listen(int *fd);

// Joins the listener to the SSDP group on the interface of index ifindex and
// IPv4 address. Returns 0 or errno.
int ssdp_socket_join(int fd, unsigned ifindex, in_addr address);

// Opens a sender bound to address (port chosen by the system), multicast TTL
// 2 through that interface. Returns 0 and the descriptor in *fd, or errno.
int ssdp_socket_sender(in_addr address, int *fd);

struct SsdpDatagram {
  std::string text;
  sockaddr_in from{};
  unsigned ifindex = 0;  // interface it arrived on
  in_addr local{};       // this host's address on that interface
  bool multicast = false;  // sent to the SSDP group rather than to us
  bool truncated = false;  // longer than SSDP_MAX_DATAGRAM: text is cut
};

// Reads one datagram from the listener. Returns 0, or errno (EAGAIN when
// nothing is waiting).
int ssdp_socket_receive(int fd, SsdpDatagram *datagram);

// Sends text to to. Returns 0 or errno.
int ssdp_socket_send(int fd, const std::string &text, const sockaddr_in &to);

// The SSDP group at port 1900.
sockaddr_in ssdp_socket_group();
