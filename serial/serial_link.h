// The serial link: port, discovery, command frames and the command exchange.
#pragma once

#include "serial/command_codes.h"
#include "serial/command_exchange.h"
#include "serial/command_frames.h"
#include "serial/device_search.h"
#include "serial/fail_codes.h"
#include "serial/link_session.h"
#include "serial/message_log.h"
#include "serial/port_diagnosis.h"
#include "serial/serial_port.h"
