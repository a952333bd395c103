// Names shared by every system's single-instance guard.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The registered messages' names; on Linux, the datagrams' tags.
inline constexpr std::string_view kInstanceQuestMessage = "LU_OneInstanceQuest";
inline constexpr std::string_view kInstanceStopMessage = "LU_OneInstanceStop";

// Lower-case hex digits of n bytes.
std::string HexBytes(const unsigned char* p, size_t n);
