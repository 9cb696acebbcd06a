// Device settings: the settings protocol, the settings model, reading all settings before the
// dialog opens and writing the changed ones after it closes.
#pragma once

#include "settings/settings_model.h"
#include "settings/settings_protocol.h"
#include "settings/settings_transfer.h"
