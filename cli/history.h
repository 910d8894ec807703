// corvanel-cli history: the last downloads as the state folder's records tell them.
#pragma once

#include <cstddef>

// Prints the last `count` records, oldest first: a table for a person, or with `json` the
// records' own lines. Says so on standard error when there is nothing to show.
void PrintHistory(std::size_t count, bool json);
