// The IPX/SPX stand-in of the POSIX backend.  Linux has no IPX, so IPX
// sockets are carried over loopback: SPX streams over TCP, IPX datagrams
// over UDP.  An IPX address maps to an IPv4 address and port:
//
//   network n0.n1.n2.n3  ->  127.n1.n2.n3    (n0 is not carried)
//   network 0 ("this network")  ->  the local network, ZELWIRE_IPX_NETWORK
//                                    (8 hexadecimal digits, default 00000001)
//   node                ->  not carried on connects; a local address reads back
//                           as node 00 00 7F n1 n2 n3
//   node FF..FF         ->  the broadcast: delivered to the same address, where
//                           the service advertisers of that network listen
//   socket number s     ->  port s
#pragma once

#include <cstdint>
#include <netinet/in.h>

namespace zw::plat::ipx {

// The local network number, network byte order as the 4 address bytes.
void localNetwork(std::uint8_t out[4]);
// sockaddr_ipx (14 bytes) to the loopback sockaddr_in that carries it.
void toInet(const std::uint8_t* ipxAddr, sockaddr_in* out);
// A loopback sockaddr_in back to its 14-byte sockaddr_ipx.
void fromInet(const sockaddr_in& in, std::uint8_t* ipxAddr);

}  // namespace zw::plat::ipx
