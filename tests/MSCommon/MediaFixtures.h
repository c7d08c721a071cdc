// The stream-probe tests' fixtures: media made at test time by MediaMaker
// (tests/support), and what stream_probe reports of them (StreamFacts).
#pragma once

#include "MSCodecCommon.h"
#include "MediaMaker.h"
