#include "render/ui_state.h"

UiState gUi;
