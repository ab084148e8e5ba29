#include "net/sources_win.h"

#include <windows.h>

#include <algorithm>
#include <mutex>

#include "core/event_log_win.h"
#include "core/launcher_state.h"

SourceObserver gSourceObserver = nullptr;

namespace {

struct Mirror {
    std::string address;
    SourceBase base;
};

std::mutex gLock;
std::vector<Mirror> gMirrors;
std::vector<SourceState> gStates(1);  // the host's, then each mirror's

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

void useMirrors(const std::vector<std::string>& mirrors) {
    std::lock_guard<std::mutex> hold(gLock);
    std::vector<Mirror> named;
    std::vector<SourceState> states{gStates.front()};
    for (const std::string& address : mirrors) {
        Mirror m{address, {}};
        if (named.size() >= kMostMirrors || !readSourceBase(address, &m.base)) continue;
        SourceState state;
        for (size_t i = 0; i < gMirrors.size(); ++i)
            if (gMirrors[i].address == address) state = gStates[i + 1];
        named.push_back(m);
        states.push_back(state);
    }
    gMirrors = std::move(named);
    gStates = std::move(states);
}

int sourceCount() {
    std::lock_guard<std::mutex> hold(gLock);
    return static_cast<int>(gStates.size());
}

std::wstring sourceAddress(int source, const std::wstring& path) {
    std::lock_guard<std::mutex> hold(gLock);
    if (source <= 0 || static_cast<size_t>(source) > gMirrors.size()) return path;
    const SourceBase& base = gMirrors[static_cast<size_t>(source) - 1].base;
    return L"https://" + wide(base.host) + L":" + std::to_wstring(base.port) + wide(base.prefix) + path;
}

std::wstring sourceName(int source) {
    std::lock_guard<std::mutex> hold(gLock);
    if (source <= 0 || static_cast<size_t>(source) > gMirrors.size()) return L"the host";
    return wide(gMirrors[static_cast<size_t>(source) - 1].address);
}

int chooseObjectSource(const std::string& object, const std::vector<int>& tried) {
    std::lock_guard<std::mutex> hold(gLock);
    return chooseSource(gStates, object, ::GetTickCount64(), tried);
}

void noteObjectFault(int source, const std::string& object, SourceFault fault) {
    std::lock_guard<std::mutex> hold(gLock);
    noteSourceFault(gStates, source, object, fault, ::GetTickCount64());
}

void noteSourceRate(int source, int64_t bytes, uint64_t ms) {
    std::lock_guard<std::mutex> hold(gLock);
    if (source < 0 || static_cast<size_t>(source) >= gStates.size() || bytes < kRateSampleBytes) return;
    const int64_t rate = bytes * 1000 / static_cast<int64_t>(ms ? ms : 1);
    gStates[static_cast<size_t>(source)].bestRate = std::max(gStates[static_cast<size_t>(source)].bestRate, rate);
}

int64_t fastestOtherRate(int source) {
    std::lock_guard<std::mutex> hold(gLock);
    const uint64_t now = ::GetTickCount64();
    int64_t fastest = 0;
    for (size_t i = 0; i < gStates.size(); ++i)
        if (static_cast<int>(i) != source && gStates[i].asideUntilMs <= now)
            fastest = std::max(fastest, gStates[i].bestRate);
    return fastest;
}

std::wstring sourceOrigin(int source) {
    return source == 0 ? L"https://" + std::wstring(gState.serverHost) : sourceName(source);
}

void reportSourceMove(int to, const std::wstring& reason) {
    const std::wstring name = sourceOrigin(to);
    logEvent("moved to %s: %s", logUtf8(name).c_str(), logUtf8(reason).c_str());
    if (!gSourceObserver) return;
    gSourceObserver((name + L": " + reason).c_str());
}
