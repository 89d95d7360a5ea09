#ifndef KIVREL_CORE_CONNSETUP_H
#define KIVREL_CORE_CONNSETUP_H

// The server address of the connection setup: the address as typed, the
// chosen protocol and the port field follow each other, and the URI handed
// on leaves a default port out. Addresses are split and built with
// KV_UriMan; schemes compare ignoring ASCII case.

#include "foundation/kv_string.h"

#include <cstdint>

// Protocols by their place in the setup's list: FTP, FTPS, HTTP, HTTPS, SFTP.
inline constexpr int kConnProtocols = 5;

// "FTP", "FTPS", "HTTP", "HTTPS", "SFTP"; null outside 0..4.
const char* ConnScheme(int protocol);
// 21, 990, 80, 443, 22; 0 outside 0..4.
uint16_t ConnDefaultPort(int protocol);
// The protocol of a scheme, -1 for none of the five.
int ConnProtocolOf(const KV_String& scheme);

// The address was edited: a known scheme selects its protocol; the port
// field shows the address's port, else (for a known scheme) its default port.
void ConnAddressChanged(const KV_String& addr, int& protocol, KV_String& port_text);
// A protocol was chosen: an address with another scheme is rebuilt with the
// chosen one (host, path and port kept); the port field shows the address's
// port, else the protocol's default port.
void ConnProtocolChosen(int protocol, KV_String& addr, KV_String& port_text);
// The port field was edited: an address that carries another port is
// rebuilt with the field's (trimmed) value.
void ConnPortChanged(const KV_String& port_text, KV_String& addr);

// The URI of the setup: a missing scheme is the chosen protocol's; without a
// port in the address the port field counts only when it is not the
// protocol's default port.
KV_String ConnUri(const KV_String& addr, int protocol, const KV_String& port_text);

// The parts of an address (empty when absent).
struct CUriParts
{
    KV_String scheme;
    KV_String host;
    KV_String path;
    KV_String port;
};
CUriParts SplitUri(const KV_String& uri);

#endif
