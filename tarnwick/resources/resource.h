#pragma once

#define IDI_TARNWICK 101
