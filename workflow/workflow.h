// The workflows every front end drives: Check, Update and Cancel, Setting. A front end
// implements FrontEnd (front_end.h), routes the log to it and calls the actions below; the
// actions reach the adapter through the firmware, settings and serial layers.
#pragma once

#include "workflow/check_flow.h"
#include "workflow/front_end.h"
#include "workflow/port_survey.h"
#include "workflow/settings_flow.h"
#include "workflow/update_flow.h"
