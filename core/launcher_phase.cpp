#include "core/launcher_phase.h"

namespace {

constexpr PhaseInfo kPhases[] = {
    {L"Connecting", L"CONNECTING", false, false, true, ButtonIcon::Spinner},
    {L"ServerError", L"RETRY", true, false, false, ButtonIcon::Spinner},
    {L"Checking", L"CHECKING", false, true, true, ButtonIcon::Spinner},
    {L"UpdateReady", L"UPDATE", true, false, false, ButtonIcon::Spinner},
    {L"Downloading", L"DOWNLOADING", false, true, true, ButtonIcon::Spinner},
    {L"Ready", L"PLAY", true, false, false, ButtonIcon::Play},
    {L"LocalError", L"RETRY", true, false, false, ButtonIcon::Spinner},
    {L"Waiting", L"WAITING", true, false, true, ButtonIcon::Spinner},
    {L"Running", L"RUNNING", false, true, false, ButtonIcon::Bars},
};
constexpr PhaseInfo kUnknown = {L"Unknown", L"RETRY", false, false, false, ButtonIcon::None};

}  // namespace

const PhaseInfo& phaseInfo(int32_t phase) {
    return phase >= Connecting && phase <= Running ? kPhases[phase] : kUnknown;
}

const wchar_t* mainButtonLabel(int32_t phase, bool gameInstalled) {
    if (phase == UpdateReady && !gameInstalled) return L"INSTALL";
    return phaseInfo(phase).label;
}
