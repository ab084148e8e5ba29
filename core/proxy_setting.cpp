#include "core/proxy_setting.h"

namespace {

bool isHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

bool isIpv6Char(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX escapes decoded; a control character, decoded or not, refuses it.
bool percentDecode(std::string_view text, std::string* out) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0) return false;
            c = static_cast<unsigned char>(high * 16 + low);
            i += 2;
        }
        if (c < 0x20 || c == 0x7F) return false;
        out->push_back(static_cast<char>(c));
    }
    return true;
}

bool parsePort(std::string_view text, uint16_t* port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// host[:port], the host a name or [IPv6].
bool parseHostPort(std::string_view text, ProxySetting* out) {
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || close < 3) return false;
        out->host.assign(text.substr(1, close - 1));
        for (char c : out->host)
            if (!isIpv6Char(c)) return false;
        if (out->host.find(':') == std::string::npos) return false;
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        port = rest.empty() ? rest : rest.substr(1);
        if (!rest.empty() && port.empty()) return false;
    } else {
        const size_t colon = text.find(':');
        out->host.assign(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) return false;
        }
        if (out->host.empty() || out->host.size() > 253) return false;
        for (char c : out->host)
            if (!isHostChar(c)) return false;
    }
    out->port = kDefaultProxyPort;
    return port.empty() || parsePort(port, &out->port);
}

}  // namespace

bool parseProxySetting(std::string_view text, ProxySetting* out) {
    ProxySetting proxy;
    if (text == "direct") {
        proxy.kind = kProxyDirect;
        *out = proxy;
        return true;
    }
    const size_t scheme = text.find("://");
    if (scheme == std::string_view::npos) return false;
    const std::string_view name = text.substr(0, scheme);
    if (name == "http") proxy.kind = kProxyHttp;
    else if (name == "socks5") proxy.kind = kProxySocks5;
    else if (name == "socks5h") proxy.kind = kProxySocks5, proxy.remoteNames = true;
    else return false;
    std::string_view rest = text.substr(scheme + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.find_first_of("/?#") != std::string_view::npos) return false;
    const size_t at = rest.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userinfo = rest.substr(0, at);
        const size_t colon = userinfo.find(':');
        if (!percentDecode(userinfo.substr(0, colon), &proxy.user) || proxy.user.empty()) return false;
        if (colon != std::string_view::npos && !percentDecode(userinfo.substr(colon + 1), &proxy.password)) return false;
        rest = rest.substr(at + 1);
    }
    if (!parseHostPort(rest, &proxy)) return false;
    *out = proxy;
    return true;
}

std::string shownProxy(const ProxySetting& proxy) {
    switch (proxy.kind) {
    case kProxySystem: return "Windows' settings";
    case kProxyDirect: return "direct";
    default: break;
    }
    const std::string scheme = proxy.kind == kProxyHttp ? "http" : proxy.remoteNames ? "socks5h" : "socks5";
    const bool v6 = proxy.host.find(':') != std::string::npos;
    return scheme + "://" + (v6 ? "[" + proxy.host + "]" : proxy.host) + ":" + std::to_string(proxy.port);
}
