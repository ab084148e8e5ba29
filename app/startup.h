// The part of start-up that needs no window, shared by the launcher and
// TVLHeadless: data folders, install flag, configuration file beside the
// program, verification cache and the HTTP session. Failures fall back to
// defaults; nothing is reported.
#pragma once

void prepareLauncher();
