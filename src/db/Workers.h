#pragma once

#include <functional>
#include <thread>

// Threads let go of before they ended (a cancelled load, a connect given
// up on): each is joined once it says it has ended, when reap() is next
// called, and all of them when the program ends.
namespace Workers {

void adopt(std::thread thread, std::function<bool()> hasEnded);
// Joins the threads that have ended; with `all`, waits for the rest too.
void reap(bool all = false);

} // namespace Workers
