// The program speaks the contract between the two programs: its names are this program's own.
#pragma once

#include "contract/EchoProtocol.h"
#include "contract/ReplyRecord.h"

namespace tarnwick::echo {
using namespace contract;
} // namespace tarnwick::echo
