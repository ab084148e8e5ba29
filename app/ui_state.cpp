#include "app/ui_state.h"

UiState gUi;
