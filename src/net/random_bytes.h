// Unpredictable bytes from the system (request nonces); one implementation per system.
#pragma once

#include <cstddef>

// Fills buffer; false when the system could not give them.
bool SystemRandomBytes(void* buffer, size_t length);
