#include "core/connsetup.h"

#include "foundation/kv_uriman.h"

namespace {

const char* const kSchemes[kConnProtocols] = {"FTP", "FTPS", "HTTP", "HTTPS", "SFTP"};
const uint16_t kPorts[kConnProtocols] = {21, 990, 80, 443, 22};

KV_String PortText(uint16_t port)
{
    KV_String s;
    s.format("%u", static_cast<unsigned>(port));
    return s;
}

KV_String Build(const CUriParts& p)
{
    return KV_UriMan::build_uri(p.scheme, p.host, p.path, &p.port);
}

} // namespace

const char* ConnScheme(int protocol)
{
    return protocol >= 0 && protocol < kConnProtocols ? kSchemes[protocol] : nullptr;
}

uint16_t ConnDefaultPort(int protocol)
{
    return protocol >= 0 && protocol < kConnProtocols ? kPorts[protocol] : 0;
}

int ConnProtocolOf(const KV_String& scheme)
{
    for (int i = 0; i < kConnProtocols; ++i) {
        if (scheme.compare(KV_String(kSchemes[i]), false) == 0) {
            return i;
        }
    }
    return -1;
}

CUriParts SplitUri(const KV_String& uri)
{
    CUriParts p;
    KV_UriMan::split_uri(uri, p.scheme, p.host, p.path, &p.port);
    return p;
}

void ConnAddressChanged(const KV_String& addr, int& protocol, KV_String& port_text)
{
    const CUriParts p = SplitUri(addr);
    const int known = ConnProtocolOf(p.scheme);
    if (known >= 0) {
        protocol = known;
    }
    if (!p.port.empty()) {
        port_text = p.port;
    } else if (known >= 0) {
        port_text = PortText(ConnDefaultPort(known));
    }
}

void ConnProtocolChosen(int protocol, KV_String& addr, KV_String& port_text)
{
    CUriParts p = SplitUri(addr);
    if (!p.scheme.empty() && p.scheme.compare(KV_String(ConnScheme(protocol)), false) != 0) {
        p.scheme = ConnScheme(protocol);
        addr = Build(p);
    }
    port_text = p.port.empty() ? PortText(ConnDefaultPort(protocol)) : p.port;
}

void ConnPortChanged(const KV_String& port_text, KV_String& addr)
{
    CUriParts p = SplitUri(addr);
    const KV_String port = port_text.trim();
    if (!p.port.empty() && p.port != port) {
        p.port = port;
        addr = Build(p);
    }
}

KV_String ConnUri(const KV_String& addr, int protocol, const KV_String& port_text)
{
    CUriParts p = SplitUri(addr);
    if (p.scheme.empty()) {
        p.scheme = ConnScheme(protocol);
    }
    if (p.port.empty()) {
        const KV_String port = port_text.trim();
        if (port != PortText(ConnDefaultPort(protocol))) {
            p.port = port;
        }
    }
    return Build(p);
}
